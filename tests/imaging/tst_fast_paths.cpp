// Every fast path writes the very JPEG the plain path writes, and each one
// really runs where it should: a path that is never taken proves nothing.
#include "fast_paths.h"
#include "imaging_test_support.h"
#include "jpeg_internals.h"
#include "testing_hooks.h"

#include <QtTest>
#include <thread>

using fixture::Header;
using fixture::Variant;
using imaging::Level;
using imaging::pathUses;
using imaging::PathUse;

Q_DECLARE_METATYPE(Variant)

namespace {

// Patches of every palette index or colour under fine noise, or, as `junk`,
// pixels without any pattern: what a recycled buffer held must never show.
fixture::Picture picture(int bits, int width, int height, bool junk) {
    fixture::Picture p{width, height, {}, {}};
    std::uint32_t state = 12345;
    const auto next = [&state] { return (state = state * 1664525u + 1013904223u) >> 16; };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned noise = next(), patch = static_cast<unsigned>(x / 7 + y / 5) + (noise & 3);
            const auto c = [&](unsigned v) { return static_cast<std::uint8_t>(junk ? next() : v); };
            if (bits <= 8)
                p.indices.push_back(static_cast<std::uint8_t>((junk ? noise : patch) % (1u << bits)));
            else
                p.colours.push_back({c(x * 255u / width), c(y * 255u / height), c(patch * 8 + (noise & 15)), c(x * 37u + y)});
        }
    }
    return p;
}

QString describe(const imaging::FastPaths& p) {
    return QString(imaging::levelName(p.level)) + (p.secondProcessor ? " second" : "") + (p.recycling ? " recycling" : "") +
           (p.hugePages ? " huge" : "") + (p.ownConverter ? " own" : "");
}

}  // namespace

class FastPathsTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { imaging_force_fast_paths(nullptr); }
    void sameBytesOnEveryPath_data();
    void sameBytesOnEveryPath();
    void everyPathRuns_data();
    void everyPathRuns();
    void readsTheEnvironment_data();
    void readsTheEnvironment();
    void allocatedBufferSavesBlack_data();
    void allocatedBufferSavesBlack();

private:
    // Loads and saves `bmp` as the program does under `paths`, into new
    // pages, or into buffers that held `junk` just before; its JPEG or nothing.
    QByteArray convert(const QByteArray& bmp, const char* paths, const QByteArray& junk = {}) {
        imaging_force_fast_paths(paths);
        imaging_release_spare_memory();
        ImageDescriptor image{};
        if (!junk.isEmpty() && imaging::loadPicture(junk.constData(), image).code != IMG_OK) return {};
        freeimage(&image);
        const bool done = imaging::loadPicture(bmp.constData(), image).code == IMG_OK && savejpg(jpg_.constData(), &image, 75) == IMG_OK;
        freeimage(&image);
        return done ? support::readAll(jpg_) : QByteArray();
    }
    QByteArray write(const char* name, const Variant& v, int width, int height, bool junk) {
        return support::writeTemp(dir_, name, fixture::encode(v, picture(v.bits == 0 ? 32 : v.bits, width, height, junk)));
    }

    QTemporaryDir dir_;
    QByteArray jpg_ = QFile::encodeName(dir_.filePath("out.jpg"));
};

void FastPathsTest::sameBytesOnEveryPath_data() {
    QTest::addColumn<Variant>("variant");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    // An odd width, and buffers just large enough to be recycled (1-bit
    // pictures are widened to 8 bits). Rows are read alike at any depth, so
    // only from 8 bits on in both orders; RLE is bottom-up only.
    const auto row = [](const QString& name, Variant v, int width = 521, int height = 0) {
        const int depth = v.bits == 1 ? 8 : v.bits == 0 ? 24 : v.bits;  // of the buffer
        height = height ? height : (256 << 10) / ((width * depth + 31) / 32 * 4) + 1;
        for (const bool top : {false, true}) {
            // BI_JPEG's number is RLE24's to OS/2.
            if (top && (v.bits < 8 || v.compression == BI_RLE8 || v.compression == BI_JPEG || v.compression == BI_PNG)) continue;
            v.topDown = top;
            QTest::newRow(qPrintable(name + (top ? ", top-down" : ""))) << v << width << height;
        }
    };
    for (const int bits : {1, 2, 4, 8}) {
        const QString depth = QString("%1-bit").arg(bits);
        row(depth + " colour", fixture::indexedVariant(bits, BI_RGB, Header::Info, fixture::colourPalette(1 << bits)));
        row(depth + " gray", fixture::indexedVariant(bits, BI_RGB, Header::Info, fixture::grayPalette(1 << bits)));
    }
    row("RLE8", fixture::indexedVariant(8, BI_RLE8, Header::Info, fixture::colourPalette(256)));
    row("RLE4", fixture::indexedVariant(4, BI_RLE4, Header::Info, fixture::colourPalette(16)));
    Variant padded = fixture::indexedVariant(8, BI_RLE8, Header::Info, fixture::colourPalette(256));
    padded.runsIntoPadding = true;
    row("RLE8 into the padding", padded);
    row("OS/2 RLE24", fixture::maskVariant(24, fixture::kOs2Rle24, Header::Os2));
    row("OS/2 Huffman 1D", fixture::indexedVariant(1, fixture::kOs2Huffman1D, Header::Os2, fixture::colourPalette(2)));
    row("embedded PNG", fixture::maskVariant(0, BI_PNG, Header::Info));
    row("16-bit 5-5-5", fixture::maskVariant(16, BI_RGB, Header::Info));
    row("16-bit 5-6-5", fixture::maskVariant(16, BI_BITFIELDS, Header::Info, {0xF800, 0x07E0, 0x001F, 0}));
    row("16-bit 4-4-4-4 alpha", fixture::maskVariant(16, BI_ALPHABITFIELDS, Header::Info, {0x0F00, 0x00F0, 0x000F, 0xF000}));
    row("24-bit", Variant{});
    row("32-bit", fixture::maskVariant(32, BI_RGB, Header::Info));
    row("32-bit alpha", fixture::maskVariant(32, BI_BITFIELDS, Header::V5, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}));
    row("64-bit", fixture::maskVariant(64, BI_RGB, Header::Info));
    // Just past 4 MiB of rows, where reads are shared with a second processor.
    row("32-bit, 4 MiB", fixture::maskVariant(32, BI_RGB, Header::Info), 1025, 1025);
}

void FastPathsTest::sameBytesOnEveryPath() {
    QFETCH(Variant, variant);
    QFETCH(int, width);
    QFETCH(int, height);
    const QByteArray bmp = write("in.bmp", variant, width, height, false);
    const QByteArray junk = write("junk.bmp", variant, width, height, true);

    // The plain path is libjpeg's own encoding of the pixels it read.
    imaging_force_fast_paths("none");
    imaging_release_spare_memory();
    ImageDescriptor image{};
    QCOMPARE(imaging::loadPicture(bmp.constData(), image).code, IMG_OK);
    QCOMPARE(savejpg(jpg_.constData(), &image, 75), IMG_OK);
    const QByteArray reference = support::readAll(jpg_);
    QVERIFY(reference == support::turboJpeg(image));
    freeimage(&image);

    QByteArrayList strategies{"plain", "no-second-processor", "no-recycling", "no-huge-pages", "no-own-converter", "recycled"};
    if (imaging::machineLevel() >= Level::Avx2) strategies << "avx2";
    if (imaging::machineLevel() >= Level::Avx512) strategies << "avx512";
    for (const QByteArray& s : strategies) {
        // Everything, into buffers that held the junk: the picture's and its file rows kept aside.
        const bool recycled = s == "recycled";
        const auto before = pathUses(PathUse::RecycledBuffer);
        QVERIFY2(convert(bmp, recycled ? "" : s.constData(), recycled ? junk : QByteArray()) == reference, s.constData());
        QVERIFY2((pathUses(PathUse::RecycledBuffer) > before) == recycled, s.constData());
    }
}

void FastPathsTest::everyPathRuns_data() {
    QTest::addColumn<int>("use");
    QTest::addColumn<QByteArray>("off");
    QTest::addColumn<Variant>("variant");
    QTest::addColumn<int>("side");
    const auto row = [](const QString& name, PathUse use, const char* off, const Variant& v, int side) {
        QTest::newRow(qPrintable(name)) << int(use) << QByteArray(off) << v << side;
    };
    const Variant rgbx = fixture::maskVariant(32, BI_RGB, Header::Info);
    row("second processor, 4 MiB read", PathUse::HelperThread, "no-second-processor", rgbx, 1025);
    row("recycling, 256 KiB", PathUse::RecycledBuffer, "no-recycling", rgbx, 257);
    row("huge pages, 2 MiB", PathUse::HugePages, "no-huge-pages", rgbx, 725);
    for (const int bits : {1, 2, 4, 8})
        row(QString("own converter, %1-bit").arg(bits), PathUse::OwnConverter, "no-own-converter",
            fixture::indexedVariant(bits, BI_RGB, Header::Info, fixture::colourPalette(1 << bits)), 61);
}

void FastPathsTest::everyPathRuns() {
    QFETCH(int, use);
    QFETCH(QByteArray, off);
    QFETCH(Variant, variant);
    QFETCH(int, side);
    if (PathUse(use) == PathUse::HelperThread && std::thread::hardware_concurrency() < 2) QSKIP("a single processor");
    const QByteArray bmp = write("in.bmp", variant, side, side, false);
    for (const bool on : {true, false}) {
        imaging_force_fast_paths(on ? "" : off.constData());
        imaging_release_spare_memory();
        const auto before = pathUses(PathUse(use));
        for (int i = 0; i < 2; ++i) {  // the second picture finds the first one's buffer
            ImageDescriptor image{};
            QCOMPARE(imaging::loadPicture(bmp.constData(), image).code, IMG_OK);
            QCOMPARE(savejpg(jpg_.constData(), &image, 75), IMG_OK);
        }
        // Palette rows take the own converter only at the depths the paths allow, in builds that have one.
        const bool allowed = PathUse(use) != PathUse::OwnConverter ||
                             (imaging::ownConverterFor(imaging::fastPaths(), variant.bits) && imaging::colourConverterReplaceable());
        QCOMPARE(pathUses(PathUse(use)) > before, on && allowed);
    }
}

void FastPathsTest::readsTheEnvironment_data() {
    QTest::addColumn<QByteArray>("words");  // null: no variable
    QTest::addColumn<int>("machine");
    QTest::addColumn<QString>("paths");
    QTest::addColumn<QString>("unknown");
    const auto row = [](const char* name, const char* words, Level machine, const char* paths, const char* unknown = "") {
        QTest::newRow(name) << QByteArray(words) << int(machine) << QString(paths) << QString(unknown);
    };
    row("unset", nullptr, Level::Avx512, "avx512 second recycling huge own");
    row("empty", "", Level::Avx2, "avx2 second recycling huge own");
    row("level capped at the machine's", "avx512", Level::Avx2, "avx2 second recycling huge own");
    row("avx2 on a plain machine", "avx2", Level::Plain, "plain second recycling huge own");
    row("plain below the machine", "plain", Level::Avx512, "plain second recycling huge own");
    row("switches, any separator", "no-recycling, no-huge-pages\tno-second-processor", Level::Avx2, "avx2 own");
    row("own converter off", "no-own-converter", Level::Avx2, "avx2 second recycling huge");
    row("none", "none", Level::Avx512, "plain");
    row("none, then a level", "none avx2", Level::Avx512, "avx2");
    row("unknown words reported", "fast,no-recycling,avx1024", Level::Avx2, "avx2 second huge own", "\"fast\" \"avx1024\"");
}

void FastPathsTest::readsTheEnvironment() {
    QFETCH(QByteArray, words);
    QFETCH(int, machine);
    QFETCH(QString, paths);
    QFETCH(QString, unknown);
    const auto level = Level(machine);
    std::string ignored;
    const char* text = words.isNull() ? nullptr : words.constData();
    QCOMPARE(describe(imaging::parseFastPaths(text, {level, true, true, true, true}, level, &ignored)), paths);
    QCOMPARE(QString::fromStdString(ignored), unknown);
    QCOMPARE(imaging_force_fast_paths(text), unknown.isEmpty());
}

void FastPathsTest::allocatedBufferSavesBlack_data() {
    QTest::addColumn<int>("depth");
    for (const int depth : {1, 8, 24}) QTest::newRow(qPrintable(QString("%1-bit").arg(depth))) << depth;
}

void FastPathsTest::allocatedBufferSavesBlack() {
    QFETCH(int, depth);
    const int width = 4001 / depth | 1, height = 577;  // 290 KB: recycled
    const Variant v = depth == 24 ? Variant{} : fixture::indexedVariant(depth, BI_RGB, Header::Info, fixture::colourPalette(1 << depth));
    const QByteArray junk = write("junk.bmp", v, width, height, true);
    const auto save = [&] {
        ImageDescriptor image{};
        const bool done = allocimage(&image, width, height, depth) == IMG_OK && savejpg(jpg_.constData(), &image, 75) == IMG_OK;
        return done ? support::readAll(jpg_) : QByteArray();
    };
    QVERIFY(!convert(junk, "").isEmpty());  // its buffers are kept for the next picture
    const auto recycled = pathUses(PathUse::RecycledBuffer);
    const QByteArray reused = save();
    QVERIFY(pathUses(PathUse::RecycledBuffer) > recycled);
    imaging_release_spare_memory();
    QVERIFY(!reused.isEmpty() && reused == save());
}

QTEST_APPLESS_MAIN(FastPathsTest)
#include "tst_fast_paths.moc"
