// Every bitmap variant a user may meet reads back pixel for pixel.
#include "imaging_test_support.h"

#include <QtTest>
#include <cmath>
#include <turbojpeg.h>

using fixture::Header;
using fixture::indexedVariant;
using fixture::maskVariant;
using fixture::Picture;
using fixture::Rgba;
using fixture::Variant;

Q_DECLARE_METATYPE(Variant)
Q_DECLARE_METATYPE(Picture)
Q_DECLARE_METATYPE(std::vector<Rgba>)

namespace {

constexpr int kWidth = 13;  // odd, so every depth has row padding
constexpr int kHeight = 7;

Picture indexedPicture(int bits) {
    Picture p = fixture::photo(kWidth, kHeight, true, 3);
    for (std::size_t i = 0; i < p.indices.size(); ++i)
        p.indices[i] = static_cast<std::uint8_t>((p.indices[i] + i * 7) % (1u << bits));
    return p;
}

// Colours with alpha values that include fully transparent and fully opaque.
Picture colourPicture(bool varyAlpha, int width = kWidth, int height = kHeight) {
    Picture p = fixture::photo(width, height, false, 5);
    for (std::size_t i = 0; i < p.colours.size(); ++i)
        p.colours[i].a = varyAlpha ? static_cast<std::uint8_t>(i % 5 == 0 ? 0 : i % 5 == 1 ? 255 : i * 37) : 255;
    return p;
}

// The level a channel stored under `mask` stands for, in floating point:
// the nearest 8-bit fraction of the channel's full scale.
unsigned throughMask(std::uint8_t c, std::uint32_t mask) {
    if (mask == 0) return 0;
    const double full = static_cast<double>(mask >> std::countr_zero(mask));
    return static_cast<unsigned>(std::lround((fixture::toChannel(c, mask) >> std::countr_zero(mask)) / full * 255));
}

// What shows through a colour of alpha a over white: white less the colour's share of darkening.
std::uint8_t overWhite(unsigned c, unsigned a) { return static_cast<std::uint8_t>(255 - std::lround(a * (255.0 - c) / 255)); }

std::vector<Rgba> maskColours(const Picture& p, std::array<std::uint32_t, 4> m, bool composite) {
    std::vector<Rgba> out;
    for (const Rgba& c : p.colours) {
        const unsigned a = composite ? throughMask(c.a, m[3]) : 255;
        out.push_back({overWhite(throughMask(c.r, m[0]), a), overWhite(throughMask(c.g, m[1]), a),
                       overWhite(throughMask(c.b, m[2]), a), 255});
    }
    return out;
}

std::vector<Rgba> opaque(const Picture& p) { return maskColours(p, {0xFF0000, 0xFF00, 0xFF, 0}, false); }

}  // namespace

class BmpReaderTest : public QObject {
    Q_OBJECT

private slots:
    void readsEveryVariant_data();
    void readsEveryVariant();
    void readsWhatOtherProgramsWrite_data();
    void readsWhatOtherProgramsWrite();

private:
    QTemporaryDir dir_;
};

void BmpReaderTest::readsEveryVariant_data() {
    QTest::addColumn<Variant>("variant");
    QTest::addColumn<Picture>("picture");
    QTest::addColumn<std::vector<Rgba>>("expected");
    QTest::addColumn<int>("depth");  // of the buffer; 0: the program's
    const auto row = [](const QByteArray& name, const Variant& v, const Picture& p, const std::vector<Rgba>& expected, int depth = 0) {
        QTest::newRow(name.constData()) << v << p << expected << depth;
    };
    // Indices past a short palette come out black.
    const auto indexed = [&row](const char* name, int bits, std::uint32_t compression, Header h, int entries, int depth = 0) {
        const Variant v = indexedVariant(bits, compression, h, fixture::colourPalette(entries));
        row(name, v, indexedPicture(bits), support::paletteColours(indexedPicture(bits), v.palette), depth);
    };
    indexed("1-bit", 1, BI_RGB, Header::Info, 2);
    indexed("2-bit", 2, BI_RGB, Header::Info, 4);
    indexed("4-bit", 4, BI_RGB, Header::Info, 16);
    indexed("8-bit", 8, BI_RGB, Header::Info, 256);
    indexed("1-bit core header", 1, BI_RGB, Header::Core, 2);
    indexed("4-bit short palette", 4, BI_RGB, Header::Info, 5);
    indexed("4-bit OS/2 2.x header", 4, BI_RGB, Header::Os2, 5);
    indexed("4-bit into an 8-bit buffer", 4, BI_RGB, Header::Info, 16, 8);
    indexed("4-bit into a 24-bit buffer", 4, BI_RGB, Header::Info, 16, 24);
    indexed("8-bit core header", 8, BI_RGB, Header::Core, 256);
    indexed("RLE8", 8, BI_RLE8, Header::Info, 256);
    indexed("RLE4", 4, BI_RLE4, Header::Info, 16);
    // Rows encoded into their padding, as ImageMagick and GraphicsMagick write
    // them, at every padding a row can have; single pixels, pairs and triples.
    for (int width = 1; width <= 130; ++width) {
        for (const int bits : {8, 4, 24}) {
            Variant v = indexedVariant(bits, bits == 8 ? BI_RLE8 : bits == 4 ? BI_RLE4 : fixture::kOs2Rle24,
                                       bits == 24 ? Header::Os2 : Header::Info, fixture::colourPalette(16));
            v.runsIntoPadding = true;
            Picture p{width, 3, {}, {}};
            for (int i = 0; i < width * 3; ++i)
                p.indices.push_back(static_cast<std::uint8_t>(((i % width) / (i / width + 1) * 2654435761u >> 28) % 3));
            const std::vector<Rgba> colours = support::paletteColours(p, v.palette);
            if (bits == 24) p.colours = colours, v.palette.clear();
            row(QByteArray("RLE").append(QByteArray::number(bits)).append(" into the padding, width ").append(QByteArray::number(width)),
                v, p, colours);
        }
    }
    indexed("RLE4 into a 24-bit buffer", 4, BI_RLE4, Header::Info, 16, 24);
    indexed("OS/2 Huffman 1D", 1, fixture::kOs2Huffman1D, Header::Os2, 2);
    indexed("OS/2 Huffman 1D into a 24-bit buffer", 1, fixture::kOs2Huffman1D, Header::Os2, 2, 24);
    {
        // Runs either side of the make-up codes' limits and past 2560, whole rows of either colour.
        const int runs[] = {5300, 1, 2560, 63, 1728, 64, 2561, 65, 1792, 2624, 1729, 2623, 1791, 2559};
        Picture wide{5300, 14, {}, {}};
        for (int y = 0, x = 0; y < 14; ++y, x = 0)
            for (int k = y; x < 5300; ++k)
                for (int n = runs[k % 14]; n-- > 0 && x < 5300; ++x) wide.indices.push_back(static_cast<std::uint8_t>(k % 2));
        const Variant v = indexedVariant(1, fixture::kOs2Huffman1D, Header::Os2, fixture::colourPalette(2));
        row("OS/2 Huffman 1D, long runs", v, wide, support::paletteColours(wide, v.palette));
    }
    {
        const Picture p = indexedPicture(8);
        Variant top = indexedVariant(8, BI_RGB, Header::V5, fixture::colourPalette(256));
        top.topDown = true;
        row("8-bit top-down V5", top, p, support::paletteColours(p, top.palette));
        const auto gray = fixture::grayPalette(256);
        row("8-bit gray", indexedVariant(8, BI_RGB, Header::Info, gray), p, support::paletteColours(p, gray));
    }

    const Picture solid = colourPicture(false);
    const Picture alpha = colourPicture(true);
    {
        Variant v;
        row("24-bit", v, solid, opaque(solid));
        v.topDown = true;
        row("24-bit top-down", v, solid, opaque(solid));
        v = Variant{};
        v.header = Header::Core;
        row("24-bit core header", v, solid, opaque(solid));
        v.header = Header::V4;
        row("24-bit V4", v, solid, opaque(solid));
        v.header = Header::Os2;
        v.compression = fixture::kOs2Rle24;
        row("OS/2 RLE24", v, solid, opaque(solid));
    }
    const std::array<std::uint32_t, 4> m555{0x7C00, 0x03E0, 0x001F, 0};
    const std::array<std::uint32_t, 4> m565{0xF800, 0x07E0, 0x001F, 0};
    const std::array<std::uint32_t, 4> m4444{0x0F00, 0x00F0, 0x000F, 0xF000};
    const std::array<std::uint32_t, 4> m1555{0x7C00, 0x03E0, 0x001F, 0x8000};
    const std::array<std::uint32_t, 4> bgra{0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    const std::array<std::uint32_t, 4> rgbx{0xFF, 0xFF00, 0xFF0000, 0};
    const std::array<std::uint32_t, 4> m101010{0x3FF00000, 0x000FFC00, 0x000003FF, 0};
    // A 5-bit 31 is 255 and a 6-bit 63 too; 16/31 and 32/63 of 255 round to 132 and 130.
    const std::vector<Rgba> extremes{{255, 255, 255, 255}, {0, 0, 0, 255}, {132, 130, 132, 255}};
    row("16-bit 5-6-5 extremes", maskVariant(16, BI_BITFIELDS, Header::Info, m565), Picture{3, 1, {}, extremes}, extremes);
    row("16-bit 5-5-5", maskVariant(16, BI_RGB, Header::Info), solid, maskColours(solid, m555, false));
    row("16-bit 5-6-5 bit fields", maskVariant(16, BI_BITFIELDS, Header::Info, m565), solid, maskColours(solid, m565, false));
    row("16-bit 4-4-4-4 alpha bit fields", maskVariant(16, BI_ALPHABITFIELDS, Header::Info, m4444), alpha,
        maskColours(alpha, m4444, true));
    {
        // Large enough for the decoder to switch to its lookup table.
        const Picture big = colourPicture(true, 300, 230);
        row("16-bit 5-6-5 large", maskVariant(16, BI_BITFIELDS, Header::Info, m565), big, maskColours(big, m565, false));
        row("16-bit 4-4-4-4 alpha large", maskVariant(16, BI_ALPHABITFIELDS, Header::Info, m4444), big,
            maskColours(big, m4444, true));
    }
    row("16-bit 1-5-5-5 V3", maskVariant(16, BI_BITFIELDS, Header::V3, m1555), alpha, maskColours(alpha, m1555, true));
    {
        Variant v = maskVariant(32, BI_RGB, Header::Info);
        v.filler = 0x5A;  // not alpha: ignored
        row("32-bit plain, fourth byte ignored", v, alpha, opaque(alpha));
    }
    row("32-bit V5 alpha", maskVariant(32, BI_BITFIELDS, Header::V5, bgra), alpha, maskColours(alpha, bgra, true));
    row("32-bit V3 BI_RGB with alpha mask", maskVariant(32, BI_RGB, Header::V3, bgra), alpha, maskColours(alpha, bgra, true));
    {
        Picture clear = solid;
        for (Rgba& c : clear.colours) c.a = 0;  // a writer that never filled alpha in
        row("32-bit all-zero alpha is opaque", maskVariant(32, BI_BITFIELDS, Header::V5, bgra), clear, opaque(clear));
    }
    row("32-bit R-G-B-X bit fields", maskVariant(32, BI_BITFIELDS, Header::Info, rgbx), solid, maskColours(solid, rgbx, false));
    row("32-bit 10-10-10 bit fields", maskVariant(32, BI_BITFIELDS, Header::V4, m101010), solid,
        maskColours(solid, m101010, false));
    // 64-bit colours flatten onto white as their 32-bit twins do.
    row("64-bit opaque", maskVariant(64, BI_RGB, Header::Info), solid, opaque(solid));
    row("64-bit alpha over white", maskVariant(64, BI_RGB, Header::Info), alpha, maskColours(alpha, bgra, true));
    {
        // The JPEG as libjpeg-turbo decodes it; the PNG's alpha flattened as 32-bit pixels are.
        const std::vector<std::uint8_t> jpeg = fixture::jpegOf(solid);
        std::vector<Rgba> decoded(solid.colours.size());
        tjhandle h = tjInitDecompress();
        tjDecompress2(h, jpeg.data(), jpeg.size(), &decoded[0].r, kWidth, 0, kHeight, TJPF_RGBA, 0);
        tjDestroy(h);
        row("embedded JPEG", maskVariant(0, BI_JPEG, Header::Info), solid, decoded);
        row("embedded PNG with alpha", maskVariant(0, BI_PNG, Header::V5), alpha, maskColours(alpha, bgra, true));
    }
}

void BmpReaderTest::readsEveryVariant() {
    QFETCH(Variant, variant);
    QFETCH(Picture, picture);
    QFETCH(std::vector<Rgba>, expected);
    QFETCH(int, depth);

    // A name beyond ASCII, as users give them.
    const QByteArray path = support::writeTemp(dir_, "Blåbær på fjellet — 山.bmp", fixture::encode(variant, picture));
    BITMAPINFOHEADER h{};
    QCOMPARE(bmpinfo(path.constData(), &h), IMG_OK);
    QCOMPARE(h.biWidth, picture.width);
    QCOMPARE(h.biHeight, variant.topDown ? -picture.height : picture.height);
    QCOMPARE(int(h.biBitCount), variant.bits);

    int rc = 0;
    const std::vector<Rgba> got = support::loadColours(path, &rc, depth);
    QCOMPARE(rc, IMG_OK);
    QCOMPARE(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (got[i] == expected[i]) continue;
        QFAIL(qPrintable(QString("pixel (%1, %2): got %3,%4,%5, expected %6,%7,%8")
                             .arg(i % picture.width).arg(i / picture.width)
                             .arg(got[i].r).arg(got[i].g).arg(got[i].b)
                             .arg(expected[i].r).arg(expected[i].g).arg(expected[i].b)));
    }
}

// ImageMagick and GraphicsMagick write palette pictures of more than 16
// colours as RLE8 whose rows run on into their padding; each program's
// uncompressed copy is the reference.
void BmpReaderTest::readsWhatOtherProgramsWrite_data() {
    QTest::addColumn<QStringList>("program");
    QTest::addColumn<int>("width");
    for (const QStringList& program : {QStringList{"convert"}, QStringList{"gm", "convert"}})
        for (const int width : {1, 2, 3, 5, 6, 7, 13, 130})
            QTest::addRow("%s, width %d", qPrintable(program.join(' ')), width) << program << width;
}

void BmpReaderTest::readsWhatOtherProgramsWrite() {
    QFETCH(QStringList, program);
    QFETCH(int, width);
    if (QStandardPaths::findExecutable(program[0]).isEmpty()) {
        if (qgetenv("CI") == "true") QFAIL("CI installs ImageMagick and GraphicsMagick");
        QSKIP("not installed");
    }
    const QByteArray source = support::writeTemp(dir_, "source.bmp", fixture::encode(Variant{}, fixture::photo(width, 40, false, 9)));
    const QString rle = dir_.filePath("rle.bmp"), plain = dir_.filePath("plain.bmp");
    const auto run = [&program](const QStringList& args) {
        QProcess p;
        p.start(program[0], program.mid(1) + args);
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    };
    // The runs are written from the plain copy: ImageMagick misreads its own runs at widths 1 and 2.
    QVERIFY(run({source, "-colors", "200", "-type", "palette", "-compress", "none", "bmp3:" + plain}));
    QVERIFY(run({plain, "-type", "palette", "-compress", "RLE", "bmp3:" + rle}));
    BITMAPINFOHEADER h{};
    QCOMPARE(bmpinfo(QFile::encodeName(rle).constData(), &h), IMG_OK);
    QCOMPARE(h.biCompression, BI_RLE8);
    int codes[2] = {-1, -1};
    QVERIFY(support::loadColours(QFile::encodeName(rle), &codes[0]) == support::loadColours(QFile::encodeName(plain), &codes[1]));
    QCOMPARE(codes[0] | codes[1], IMG_OK);
}

QTEST_APPLESS_MAIN(BmpReaderTest)
#include "tst_bmp_reader.moc"
