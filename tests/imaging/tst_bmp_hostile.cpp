// Damaged and hostile bitmaps are refused with their own code, never read
// out of bounds (the sanitizer build runs these too).
#include "imaging_test_support.h"
#include "testing_hooks.h"

#include <QtTest>
#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

using Bytes = std::vector<std::uint8_t>;
Q_DECLARE_METATYPE(Bytes)

namespace {

void poke32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
void poke16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Offsets in a file with a 40-byte header.
constexpr std::size_t kOffBits = 10, kWidth = 18, kHeight = 22, kPlanes = 26, kBitCount = 28, kCompression = 30,
                      kClrUsed = 46, kMasks = 54;

Bytes rgb24() { return fixture::encode(fixture::Variant{}, fixture::photo(9, 6, false)); }

Bytes pal8() {
    fixture::Variant v;
    v.bits = 8;
    v.palette = fixture::colourPalette(256);
    return fixture::encode(v, fixture::photo(9, 6, true));
}

Bytes rle8(const Bytes& stream, int width = 4, int height = 2) {
    fixture::Variant v;
    v.bits = 8;
    v.compression = BI_RLE8;
    v.palette = fixture::colourPalette(4);
    return fixture::encodeRaw(v, width, height, stream);
}

Bytes bitfields16(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    fixture::Variant v;
    v.bits = 16;
    v.compression = BI_BITFIELDS;
    v.masks = {0x7C00, 0x03E0, 0x001F, 0};
    Bytes bytes = fixture::encode(v, fixture::photo(4, 2, false));
    poke32(bytes, kMasks, r);
    poke32(bytes, kMasks + 4, g);
    poke32(bytes, kMasks + 8, b);
    return bytes;
}

template <class F>
Bytes edited(Bytes b, F&& edit) {
    edit(b);
    return b;
}

}  // namespace

class BmpHostileTest : public QObject {
    Q_OBJECT

private slots:
    void refusedWithItsCode_data();
    void refusedWithItsCode();
    void missingFilesAndFolders();
    void buffersThatDoNotFitTheFile();
    void oddButReadableFiles();
    void mediaThatFailOrShrinkUnderTheReader_data();
    void mediaThatFailOrShrinkUnderTheReader();

private:
    QTemporaryDir dir_;
};

void BmpHostileTest::refusedWithItsCode_data() {
    QTest::addColumn<Bytes>("bytes");
    QTest::addColumn<int>("infoCode");  // from bmpinfo
    QTest::addColumn<int>("loadCode");  // from allocimage and loadbmp, when bmpinfo succeeds

    const Bytes good = rgb24();
    QTest::newRow("empty file") << Bytes{} << IMG_ERR_NOT_BMP << 0;
    QTest::newRow("a PNG") << Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13} << IMG_ERR_NOT_BMP << 0;
    QTest::newRow("signature only") << Bytes{'B', 'M', 0, 0} << IMG_ERR_TRUNCATED << 0;
    QTest::newRow("header cut short") << Bytes(good.begin(), good.begin() + 30) << IMG_ERR_TRUNCATED << 0;
    QTest::newRow("header size 7") << edited(good, [](Bytes& b) { poke32(b, 14, 7); }) << IMG_ERR_CORRUPT << 0;
    QTest::newRow("header size 4 GiB") << edited(good, [](Bytes& b) { poke32(b, 14, 0xFFFFFFF0u); })
                                       << IMG_ERR_TRUNCATED << 0;
    QTest::newRow("zero width") << edited(good, [](Bytes& b) { poke32(b, kWidth, 0); }) << IMG_ERR_CORRUPT << 0;
    QTest::newRow("negative width") << edited(good, [](Bytes& b) { poke32(b, kWidth, 0xFFFFFFF7u); })
                                    << IMG_ERR_CORRUPT << 0;
    QTest::newRow("zero height") << edited(good, [](Bytes& b) { poke32(b, kHeight, 0); }) << IMG_ERR_CORRUPT << 0;
    QTest::newRow("most negative height") << edited(good, [](Bytes& b) { poke32(b, kHeight, 0x80000000u); })
                                          << IMG_ERR_CORRUPT << 0;
    QTest::newRow("two planes") << edited(good, [](Bytes& b) { poke16(b, kPlanes, 2); }) << IMG_ERR_CORRUPT << 0;
    QTest::newRow("7 bits per pixel") << edited(good, [](Bytes& b) { poke16(b, kBitCount, 7); }) << IMG_ERR_CORRUPT << 0;
    QTest::newRow("RLE8 at 24 bits") << edited(good, [](Bytes& b) { poke32(b, kCompression, BI_RLE8); })
                                     << IMG_ERR_CORRUPT << 0;
    QTest::newRow("bit fields at 24 bits") << edited(good, [](Bytes& b) { poke32(b, kCompression, BI_BITFIELDS); })
                                           << IMG_ERR_CORRUPT << 0;
    QTest::newRow("unknown compression") << edited(good, [](Bytes& b) { poke32(b, kCompression, 99); })
                                         << IMG_ERR_CORRUPT << 0;
    QTest::newRow("embedded JPEG") << edited(good, [](Bytes& b) { poke32(b, kCompression, BI_JPEG); })
                                   << IMG_ERR_UNSUPPORTED << 0;
    QTest::newRow("embedded PNG") << edited(good, [](Bytes& b) { poke32(b, kCompression, BI_PNG); })
                                  << IMG_ERR_UNSUPPORTED << 0;
    QTest::newRow("CMYK") << edited(good, [](Bytes& b) { poke32(b, kCompression, 11); }) << IMG_ERR_UNSUPPORTED << 0;
    QTest::newRow("pixel offset past the end") << edited(good, [](Bytes& b) { poke32(b, kOffBits, 0x7FFFFFFF); })
                                               << IMG_ERR_CORRUPT << 0;
    QTest::newRow("pixel offset inside the header") << edited(good, [](Bytes& b) { poke32(b, kOffBits, 20); })
                                                    << IMG_ERR_CORRUPT << 0;
    QTest::newRow("overlapping masks") << bitfields16(0xFC00, 0x07E0, 0x001F) << IMG_ERR_CORRUPT << 0;
    QTest::newRow("mask wider than the pixel") << bitfields16(0x1F0000, 0x07E0, 0x001F) << IMG_ERR_CORRUPT << 0;
    QTest::newRow("no colour masks") << bitfields16(0, 0, 0) << IMG_ERR_CORRUPT << 0;

    // The header is sound; the trouble is in the pixels or the size.
    QTest::newRow("pixel data cut short") << Bytes(good.begin(), good.end() - 40) << 0 << IMG_ERR_TRUNCATED;
    QTest::newRow("no pixel data at all") << Bytes(good.begin(), good.begin() + 54) << 0 << IMG_ERR_TRUNCATED;
    const Bytes palette = pal8();
    QTest::newRow("palette image cut short") << Bytes(palette.begin(), palette.end() - 9) << 0 << IMG_ERR_TRUNCATED;
    QTest::newRow("a billion pixels in a small file")
        << edited(good, [](Bytes& b) { poke32(b, kWidth, 1 << 30); poke32(b, kHeight, 1 << 30); }) << 0
        << IMG_ERR_NO_MEMORY;
    QTest::newRow("large image, small file")
        << edited(good, [](Bytes& b) { poke32(b, kWidth, 4000); poke32(b, kHeight, 3000); }) << 0 << IMG_ERR_TRUNCATED;
    QTest::newRow("RLE run past the right edge") << rle8({5, 1, 0, 1}) << 0 << IMG_ERR_CORRUPT;
    QTest::newRow("RLE absolute run past the edge") << rle8({0, 5, 1, 2, 3, 1, 2, 0, 0, 1}) << 0 << IMG_ERR_CORRUPT;
    QTest::newRow("RLE delta out of the image") << rle8({0, 2, 1, 9, 0, 1}) << 0 << IMG_ERR_CORRUPT;
    QTest::newRow("RLE rows past the top") << rle8({4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 1}) << 0 << IMG_ERR_CORRUPT;
    QTest::newRow("RLE stream without end") << rle8({4, 1, 0, 0, 2, 1}) << 0 << IMG_ERR_TRUNCATED;
    QTest::newRow("RLE absolute run cut off") << rle8({0, 4, 1, 2}) << 0 << IMG_ERR_TRUNCATED;
    QTest::newRow("RLE delta cut off") << rle8({0, 2, 1}) << 0 << IMG_ERR_TRUNCATED;
    QTest::newRow("RLE top-down") << edited(rle8({0, 1}), [](Bytes& b) { poke32(b, kHeight, static_cast<std::uint32_t>(-2)); })
                                  << IMG_ERR_CORRUPT << 0;
}

void BmpHostileTest::refusedWithItsCode() {
    QFETCH(Bytes, bytes);
    QFETCH(int, infoCode);
    QFETCH(int, loadCode);
    const QByteArray path = support::writeTemp(dir_, "hostile.bmp", bytes);
    ImageDescriptor image{};
    const imaging::Loaded loaded = imaging::loadPicture(path.constData(), image);
    QCOMPARE(loaded.failed == imaging::LoadStep::Info ? loaded.code : IMG_OK, infoCode);
    if (infoCode == IMG_OK) QCOMPARE(loaded.code, loadCode);
    freeimage(&image);
}

void BmpHostileTest::missingFilesAndFolders() {
    BITMAPINFOHEADER h{};
    const QByteArray missing = QFile::encodeName(dir_.filePath("nowhere.bmp"));
    const QByteArray folder = QFile::encodeName(dir_.path());
    QCOMPARE(bmpinfo(missing.constData(), &h), IMG_ERR_OPEN);
    QCOMPARE(bmpinfo(folder.constData(), &h), IMG_ERR_OPEN);
    QCOMPARE(bmpinfo(nullptr, &h), IMG_ERR_OPEN);
    QCOMPARE(bmpinfo(missing.constData(), nullptr), IMG_ERR_BAD_IMAGE);
    ImageDescriptor image{};
    QCOMPARE(allocimage(&image, 9, 6, 24), IMG_OK);
    QCOMPARE(loadbmp(missing.constData(), &image), IMG_ERR_OPEN);
    QCOMPARE(loadbmp(folder.constData(), &image), IMG_ERR_OPEN);
    // A pipe named like a bitmap is refused at once, not waited on, and not as missing.
    const QByteArray pipe = QFile::encodeName(dir_.filePath("pipe.bmp"));
    QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
    QCOMPARE(bmpinfo(pipe.constData(), &h), IMG_ERR_NOT_BMP);
    QCOMPARE(loadbmp(pipe.constData(), &image), IMG_ERR_NOT_BMP);
}

void BmpHostileTest::buffersThatDoNotFitTheFile() {
    const QByteArray colour = support::writeTemp(dir_, "rgb.bmp", rgb24());
    const QByteArray indexed = support::writeTemp(dir_, "pal.bmp", pal8());
    ImageDescriptor image{};
    QCOMPARE(loadbmp(colour.constData(), &image), IMG_ERR_BAD_IMAGE);  // never allocated
    QCOMPARE(loadbmp(colour.constData(), nullptr), IMG_ERR_BAD_IMAGE);
    QCOMPARE(allocimage(&image, 8, 6, 24), IMG_OK);
    QCOMPARE(loadbmp(colour.constData(), &image), IMG_ERR_MISMATCH);
    QCOMPARE(allocimage(&image, 9, 7, 24), IMG_OK);
    QCOMPARE(loadbmp(colour.constData(), &image), IMG_ERR_MISMATCH);
    QCOMPARE(allocimage(&image, 9, 6, 8), IMG_OK);
    QCOMPARE(loadbmp(colour.constData(), &image), IMG_ERR_MISMATCH);  // colour into indices
    QCOMPARE(allocimage(&image, 9, 6, 4), IMG_OK);
    QCOMPARE(loadbmp(indexed.constData(), &image), IMG_ERR_MISMATCH);  // 8-bit indices into 4
}

void BmpHostileTest::oddButReadableFiles() {
    // Headers that overstate or misplace things, read the way other viewers do.
    const Bytes base = pal8();
    const Bytes hugeCount = edited(base, [](Bytes& b) { poke32(b, kClrUsed, 0xFFFFFFFFu); });
    const Bytes noOffset = edited(base, [](Bytes& b) { poke32(b, kOffBits, 0); });
    fixture::Variant v5;
    v5.header = fixture::Header::V5;
    v5.icc = Bytes(32, 7);
    const Bytes badProfile = edited(fixture::encode(v5, fixture::photo(9, 6, false)),
                                    [](Bytes& b) { poke32(b, 14 + 112, 0x7FFFFFF0); });
    for (const Bytes& bytes : {hugeCount, noOffset, badProfile}) {
        const QByteArray path = support::writeTemp(dir_, "odd.bmp", bytes);
        int rc = -100;
        const auto colours = support::loadColours(path, &rc);
        QCOMPARE(rc, IMG_OK);
        QCOMPARE(colours.size(), std::size_t{54});
    }
}

enum class Mishap { ShrinksAfterLoad, ShrinksBeforeLoad, ReadFails, ReadFailsLate };
Q_DECLARE_METATYPE(Mishap)

void BmpHostileTest::mediaThatFailOrShrinkUnderTheReader_data() {
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("topDown");
    QTest::addColumn<Mishap>("mishap");
    QTest::addColumn<int>("loadCode");
    QTest::addColumn<int>("size");
    // Cut by another program once loaded: the picture as it was read is saved.
    QTest::newRow("24-bit, cut after loading") << 24 << false << Mishap::ShrinksAfterLoad << IMG_OK << 64;
    QTest::newRow("8-bit, cut after loading") << 8 << false << Mishap::ShrinksAfterLoad << IMG_OK << 64;
    QTest::newRow("24-bit top-down, cut after loading") << 24 << true << Mishap::ShrinksAfterLoad << IMG_OK << 64;
    QTest::newRow("32-bit, cut after loading") << 32 << false << Mishap::ShrinksAfterLoad << IMG_OK << 64;
    QTest::newRow("24-bit, cut after its header was read") << 24 << false << Mishap::ShrinksBeforeLoad << IMG_ERR_TRUNCATED << 64;
    QTest::newRow("32-bit, cut after its header was read") << 32 << false << Mishap::ShrinksBeforeLoad << IMG_ERR_TRUNCATED << 64;
    QTest::newRow("24-bit, I/O error in the pixels") << 24 << false << Mishap::ReadFails << IMG_ERR_READ << 64;
    QTest::newRow("24-bit top-down, I/O error in the pixels") << 24 << true << Mishap::ReadFails << IMG_ERR_READ << 64;
    QTest::newRow("8-bit, I/O error in the pixels") << 8 << false << Mishap::ReadFails << IMG_ERR_READ << 64;
    QTest::newRow("32-bit, I/O error in the pixels") << 32 << false << Mishap::ReadFails << IMG_ERR_READ << 64;
    // Large reads into new memory are shared between two threads (sizes that
    // no recycled buffer fits).
    QTest::newRow("24-bit large, I/O error early") << 24 << false << Mishap::ReadFails << IMG_ERR_READ << 1300;
    QTest::newRow("24-bit large, I/O error into a recycled buffer") << 24 << false << Mishap::ReadFails << IMG_ERR_READ << 1300;
    QTest::newRow("24-bit large, I/O error late") << 24 << false << Mishap::ReadFailsLate << IMG_ERR_READ << 1900;
    QTest::newRow("32-bit large, cut after loading") << 32 << false << Mishap::ShrinksAfterLoad << IMG_OK << 1300;
}

void BmpHostileTest::mediaThatFailOrShrinkUnderTheReader() {
    QFETCH(int, bits);
    QFETCH(bool, topDown);
    QFETCH(Mishap, mishap);
    QFETCH(int, loadCode);
    QFETCH(int, size);
    fixture::Variant v;
    v.bits = bits;
    v.topDown = topDown;
    if (bits == 8) v.palette = fixture::colourPalette(256);
    const std::vector<std::uint8_t> bytes = fixture::encode(v, fixture::photo(size, size, bits == 8));
    const QByteArray path = support::writeTemp(dir_, "shaky.bmp", bytes);
    const auto cut = [&] { QVERIFY(::truncate(path.constData(), 200) == 0); };

    BITMAPINFOHEADER h{};
    QCOMPARE(bmpinfo(path.constData(), &h), IMG_OK);
    ImageDescriptor image{};
    QCOMPARE(allocimage(&image, size, size, imaging::programDepth(bits)), IMG_OK);
    if (mishap == Mishap::ShrinksBeforeLoad) cut();
    if (mishap == Mishap::ReadFails) imaging_fail_reads_from(1500);
    if (mishap == Mishap::ReadFailsLate) imaging_fail_reads_from(static_cast<long long>(bytes.size()) - 1000);
    const int rc = loadbmp(path.constData(), &image);
    imaging_fail_reads_from(-1);
    QCOMPARE(rc, loadCode);
    if (rc == IMG_ERR_READ) QCOMPARE(imaging_os_error(), EIO);  // the reason, whichever thread read the part
    if (mishap == Mishap::ShrinksAfterLoad) {
        cut();
        QCOMPARE(savejpg(QFile::encodeName(dir_.filePath("shaky.jpg")).constData(), &image, 75), IMG_OK);
        QCOMPARE(support::decodeJpeg(QFile::encodeName(dir_.filePath("shaky.jpg"))).width, size);
    }
    freeimage(&image);
}

QTEST_APPLESS_MAIN(BmpHostileTest)
#include "tst_bmp_hostile.moc"
