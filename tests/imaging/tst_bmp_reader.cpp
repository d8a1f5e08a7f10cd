// Every bitmap variant a user may meet reads back pixel for pixel.
#include "imaging_test_support.h"

#include <QtTest>

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

Picture indexedPicture(int bits, unsigned seed = 3) {
    Picture p = fixture::photo(kWidth, kHeight, true, seed);
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

// A channel stored under `mask` and scaled back to 8 bits: round(v * 255 / max).
std::uint8_t throughMask(std::uint8_t c, std::uint32_t mask) {
    if (mask == 0) return 0;
    const std::uint32_t max = mask >> std::countr_zero(mask);
    const std::uint64_t v = fixture::toChannel(c, mask) >> std::countr_zero(mask);
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
}

std::uint8_t overWhite(unsigned c, unsigned a) { return static_cast<std::uint8_t>((c * a + 255 * (255 - a) + 127) / 255); }

std::vector<Rgba> maskColours(const Picture& p, std::array<std::uint32_t, 4> m, bool composite) {
    std::vector<Rgba> out;
    for (const Rgba& c : p.colours) {
        Rgba e{throughMask(c.r, m[0]), throughMask(c.g, m[1]), throughMask(c.b, m[2]), 255};
        if (composite) {
            const unsigned a = throughMask(c.a, m[3]);
            e = Rgba{overWhite(e.r, a), overWhite(e.g, a), overWhite(e.b, a), 255};
        }
        out.push_back(e);
    }
    return out;
}

std::vector<Rgba> opaque(const Picture& p) {
    std::vector<Rgba> out = p.colours;
    for (Rgba& c : out) c.a = 255;
    return out;
}

}  // namespace

class BmpReaderTest : public QObject {
    Q_OBJECT

private slots:
    void readsEveryVariant_data();
    void readsEveryVariant();
    void rleEscapesAndUnsetPixels();
    void rle4AbsoluteRunsOfOddLength();
    void maskScalingIsExact();
    void indexedFilesLoadIntoDeeperBuffers();
    void headerIsReportedAsStored();
    void nonAsciiFileNames();

private:
    QTemporaryDir dir_;
};

void BmpReaderTest::readsEveryVariant_data() {
    QTest::addColumn<Variant>("variant");
    QTest::addColumn<Picture>("picture");
    QTest::addColumn<std::vector<Rgba>>("expected");

    for (int bits : {1, 2, 4, 8}) {
        const Picture p = indexedPicture(bits);
        const auto pal = fixture::colourPalette(1 << bits);
        QTest::addRow("%d-bit", bits) << indexedVariant(bits, BI_RGB, Header::Info, pal) << p
                                      << support::paletteColours(p, pal);
    }
    {
        const Picture p = indexedPicture(1);
        const auto pal = fixture::colourPalette(2);
        QTest::newRow("1-bit core header") << indexedVariant(1, BI_RGB, Header::Core, pal) << p
                                           << support::paletteColours(p, pal);
    }
    {
        // Indices past a short palette come out black.
        const Picture p = indexedPicture(4);
        const auto pal = fixture::colourPalette(5);
        QTest::newRow("4-bit short palette") << indexedVariant(4, BI_RGB, Header::Info, pal) << p
                                             << support::paletteColours(p, pal);
        QTest::newRow("4-bit OS/2 2.x header") << indexedVariant(4, BI_RGB, Header::Os2, pal) << p
                                               << support::paletteColours(p, pal);
    }
    {
        const Picture p = indexedPicture(8);
        const auto gray = fixture::grayPalette(256);
        const auto colour = fixture::colourPalette(256);
        QTest::newRow("8-bit gray") << indexedVariant(8, BI_RGB, Header::Info, gray) << p
                                    << support::paletteColours(p, gray);
        Variant top = indexedVariant(8, BI_RGB, Header::V5, colour);
        top.topDown = true;
        QTest::newRow("8-bit top-down V5") << top << p << support::paletteColours(p, colour);
        QTest::newRow("8-bit core header") << indexedVariant(8, BI_RGB, Header::Core, colour) << p
                                           << support::paletteColours(p, colour);
        QTest::newRow("RLE8") << indexedVariant(8, BI_RLE8, Header::Info, colour) << p
                              << support::paletteColours(p, colour);
    }
    {
        const Picture p = indexedPicture(4);
        const auto pal = fixture::colourPalette(16);
        QTest::newRow("RLE4") << indexedVariant(4, BI_RLE4, Header::Info, pal) << p << support::paletteColours(p, pal);
    }

    const Picture solid = colourPicture(false);
    const Picture alpha = colourPicture(true);
    {
        Variant v;
        QTest::newRow("24-bit") << v << solid << opaque(solid);
        v.topDown = true;
        QTest::newRow("24-bit top-down") << v << solid << opaque(solid);
        v = Variant{};
        v.header = Header::Core;
        QTest::newRow("24-bit core header") << v << solid << opaque(solid);
        v.header = Header::V4;
        QTest::newRow("24-bit V4") << v << solid << opaque(solid);
    }
    const std::array<std::uint32_t, 4> m555{0x7C00, 0x03E0, 0x001F, 0};
    const std::array<std::uint32_t, 4> m565{0xF800, 0x07E0, 0x001F, 0};
    const std::array<std::uint32_t, 4> m4444{0x0F00, 0x00F0, 0x000F, 0xF000};
    const std::array<std::uint32_t, 4> m1555{0x7C00, 0x03E0, 0x001F, 0x8000};
    const std::array<std::uint32_t, 4> bgra{0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    const std::array<std::uint32_t, 4> rgbx{0xFF, 0xFF00, 0xFF0000, 0};
    const std::array<std::uint32_t, 4> m101010{0x3FF00000, 0x000FFC00, 0x000003FF, 0};
    QTest::newRow("16-bit 5-5-5") << maskVariant(16, BI_RGB, Header::Info, {}) << solid << maskColours(solid, m555, false);
    QTest::newRow("16-bit 5-6-5 bit fields") << maskVariant(16, BI_BITFIELDS, Header::Info, m565) << solid
                                              << maskColours(solid, m565, false);
    QTest::newRow("16-bit 4-4-4-4 alpha bit fields") << maskVariant(16, BI_ALPHABITFIELDS, Header::Info, m4444) << alpha
                                                      << maskColours(alpha, m4444, true);
    {
        // Large enough for the decoder to switch to its lookup table.
        const Picture big = colourPicture(true, 300, 230);
        QTest::newRow("16-bit 5-6-5 large") << maskVariant(16, BI_BITFIELDS, Header::Info, m565) << big
                                            << maskColours(big, m565, false);
        QTest::newRow("16-bit 4-4-4-4 alpha large") << maskVariant(16, BI_ALPHABITFIELDS, Header::Info, m4444) << big
                                                    << maskColours(big, m4444, true);
    }
    QTest::newRow("16-bit 1-5-5-5 V3") << maskVariant(16, BI_BITFIELDS, Header::V3, m1555) << alpha
                                        << maskColours(alpha, m1555, true);
    {
        Variant v = maskVariant(32, BI_RGB, Header::Info, {});
        v.filler = 0x5A;  // not alpha: ignored
        QTest::newRow("32-bit plain, fourth byte ignored") << v << alpha << opaque(alpha);
    }
    QTest::newRow("32-bit V5 alpha") << maskVariant(32, BI_BITFIELDS, Header::V5, bgra) << alpha
                                     << maskColours(alpha, bgra, true);
    QTest::newRow("32-bit V3 BI_RGB with alpha mask") << maskVariant(32, BI_RGB, Header::V3, bgra) << alpha
                                                      << maskColours(alpha, bgra, true);
    {
        Picture clear = solid;
        for (Rgba& c : clear.colours) c.a = 0;  // a writer that never filled alpha in
        QTest::newRow("32-bit all-zero alpha is opaque") << maskVariant(32, BI_BITFIELDS, Header::V5, bgra) << clear
                                                         << opaque(clear);
    }
    QTest::newRow("32-bit R-G-B-X bit fields") << maskVariant(32, BI_BITFIELDS, Header::Info, rgbx) << solid
                                                << maskColours(solid, rgbx, false);
    QTest::newRow("32-bit 10-10-10 bit fields") << maskVariant(32, BI_BITFIELDS, Header::V4, m101010) << solid
                                                 << maskColours(solid, m101010, false);
    {
        Variant v;
        v.bits = 64;
        QTest::newRow("64-bit opaque") << v << solid << opaque(solid);
        std::vector<Rgba> expected = opaque(alpha);
        Picture edges = alpha;
        for (std::size_t i = 0; i < edges.colours.size(); ++i) {
            // Only fully opaque and fully transparent pixels have obvious results.
            edges.colours[i].a = i % 2 ? 255 : 0;
            if (i % 2 == 0) expected[i] = Rgba{255, 255, 255, 255};
        }
        QTest::newRow("64-bit alpha over white") << v << edges << expected;
    }
}

void BmpReaderTest::readsEveryVariant() {
    QFETCH(Variant, variant);
    QFETCH(Picture, picture);
    QFETCH(std::vector<Rgba>, expected);

    const QByteArray path = support::writeTemp(dir_, "variant.bmp", fixture::encode(variant, picture));
    BITMAPINFOHEADER h{};
    QCOMPARE(bmpinfo(path.constData(), &h), IMG_OK);
    QCOMPARE(h.biWidth, picture.width);
    QCOMPARE(std::abs(h.biHeight), picture.height);
    QCOMPARE(int(h.biBitCount), variant.bits);

    int rc = 0;
    const std::vector<Rgba> got = support::loadColours(path, &rc);
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

void BmpReaderTest::rleEscapesAndUnsetPixels() {
    // 6x4 RLE8: a run on the bottom row, a delta up one row, an absolute run,
    // then an early end: everything the stream never drew stays index 0.
    const std::vector<std::uint8_t> stream = {
        2, 5,           // two pixels of index 5
        0, 2, 2, 1,     // delta: right 2, up 1
        0, 3, 7, 8, 9, 0,  // absolute run of three, padded
        0, 1,           // end of bitmap
    };
    Variant v = indexedVariant(8, BI_RLE8, Header::Info, fixture::colourPalette(16));
    const QByteArray path = support::writeTemp(dir_, "rle.bmp", fixture::encodeRaw(v, 6, 4, stream));
    ImageDescriptor image{};
    QCOMPARE(allocimage(&image, 6, 4, 8), IMG_OK);
    // Here the delta lands at x = 4, so the run of three would pass the right edge.
    QCOMPARE(loadbmp(path.constData(), &image), IMG_ERR_CORRUPT);

    const std::vector<std::uint8_t> fitting = {2, 5, 0, 2, 1, 1, 0, 3, 7, 8, 9, 0, 0, 1};
    const QByteArray ok = support::writeTemp(dir_, "rle-ok.bmp", fixture::encodeRaw(v, 6, 4, fitting));
    QCOMPARE(loadbmp(ok.constData(), &image), IMG_OK);
    const std::vector<std::vector<int>> rows = {  // top row first
        {0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0},
        {0, 0, 0, 7, 8, 9},
        {5, 5, 0, 0, 0, 0},
    };
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) QCOMPARE(int(image.row(y)[x]), rows[y][x]);
}

void BmpReaderTest::rle4AbsoluteRunsOfOddLength() {
    // 5x2 RLE4: an absolute run of five nibbles, end of line, a run of 5 alternating 1 and 2.
    const std::vector<std::uint8_t> stream = {0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 5, 0x12, 0, 1};
    Variant v = indexedVariant(4, BI_RLE4, Header::Info, fixture::colourPalette(16));
    const QByteArray path = support::writeTemp(dir_, "rle4.bmp", fixture::encodeRaw(v, 5, 2, stream));
    ImageDescriptor image{};
    QCOMPARE(allocimage(&image, 5, 2, 8), IMG_OK);  // an RLE4 file into an 8-bit buffer
    QCOMPARE(loadbmp(path.constData(), &image), IMG_OK);
    const int top[] = {1, 2, 1, 2, 1};
    const int bottom[] = {1, 2, 3, 4, 5};
    for (int x = 0; x < 5; ++x) {
        QCOMPARE(int(image.row(0)[x]), top[x]);
        QCOMPARE(int(image.row(1)[x]), bottom[x]);
    }
}

void BmpReaderTest::maskScalingIsExact() {
    // One row of 16-bit 5-6-5 pixels with the extremes and a midpoint.
    const std::vector<std::uint8_t> row = {0xFF, 0xFF, 0x00, 0x00, 0x10, 0x84, 0x00, 0x00};  // white, black, (16, 32, 16)
    Variant v = maskVariant(16, BI_BITFIELDS, Header::Info, {0xF800, 0x07E0, 0x001F, 0});
    const QByteArray path = support::writeTemp(dir_, "565.bmp", fixture::encodeRaw(v, 3, 1, row));
    int rc = 0;
    const auto got = support::loadColours(path, &rc);
    QCOMPARE(rc, IMG_OK);
    QCOMPARE(got[0], (Rgba{255, 255, 255, 255}));  // a 5-bit 31 is 255, a 6-bit 63 too
    QCOMPARE(got[1], (Rgba{0, 0, 0, 255}));
    QCOMPARE(got[2], (Rgba{132, 130, 132, 255}));  // 16/31 and 32/63 of 255, rounded
}

void BmpReaderTest::indexedFilesLoadIntoDeeperBuffers() {
    const Picture p = indexedPicture(4);
    const auto pal = fixture::colourPalette(16);
    const QByteArray path = support::writeTemp(dir_, "pal4.bmp", fixture::encode(indexedVariant(4, BI_RGB, Header::Info, pal), p));
    for (int depth : {8, 24}) {
        int rc = 0;
        QCOMPARE(support::loadColours(path, &rc, depth), support::paletteColours(p, pal));
        QCOMPARE(rc, IMG_OK);
    }
}

void BmpReaderTest::headerIsReportedAsStored() {
    Variant v;
    v.topDown = true;
    v.xPelsPerMeter = 3780;
    v.yPelsPerMeter = 2835;
    const QByteArray top = support::writeTemp(dir_, "top.bmp", fixture::encode(v, colourPicture(false)));
    BITMAPINFOHEADER h{};
    QCOMPARE(bmpinfo(top.constData(), &h), IMG_OK);
    QCOMPARE(h.biHeight, -kHeight);  // top-down keeps its sign
    QCOMPARE(h.biSize, 40u);
    QCOMPARE(h.biXPelsPerMeter, 3780);
    QCOMPARE(h.biYPelsPerMeter, 2835);

    Variant core = indexedVariant(8, BI_RGB, Header::Core, fixture::grayPalette(256));
    const QByteArray old = support::writeTemp(dir_, "core.bmp", fixture::encode(core, indexedPicture(8)));
    QCOMPARE(bmpinfo(old.constData(), &h), IMG_OK);  // 16-bit fields widened
    QCOMPARE(h.biSize, 12u);
    QCOMPARE(h.biWidth, kWidth);
    QCOMPARE(h.biHeight, kHeight);
    QCOMPARE(int(h.biBitCount), 8);
    QCOMPARE(h.biCompression, BI_RGB);
}

void BmpReaderTest::nonAsciiFileNames() {
    const QByteArray path = support::writeTemp(dir_, QStringLiteral("Blåbær på fjellet — 山.bmp"),
                                               fixture::encode(Variant{}, colourPicture(false)));
    int rc = 0;
    QCOMPARE(support::loadColours(path, &rc), opaque(colourPicture(false)));
    QCOMPARE(rc, IMG_OK);
}

QTEST_APPLESS_MAIN(BmpReaderTest)
#include "tst_bmp_reader.moc"
