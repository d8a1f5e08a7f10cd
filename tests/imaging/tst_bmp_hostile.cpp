// Damaged and hostile bitmaps are refused with their own code, never read
// out of bounds (the sanitizer build runs these too).
#include "image_rows.h"
#include "imaging_test_support.h"
#include "testing_hooks.h"

#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

using Bytes = std::vector<std::uint8_t>;
using fixture::Variant;
using Colours = std::vector<fixture::Rgba>;
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(Colours)

namespace {

void poke32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Offsets in a file with a 40-byte header.
constexpr std::size_t kOffBits = 10, kWidth = 18, kHeight = 22, kPlanes = 26, kBitCount = 28, kCompression = 30,
                      kClrUsed = 46, kMasks = 54;

Bytes rgb24() { return fixture::encode(fixture::Variant{}, fixture::photo(9, 6, false)); }

Bytes pal8(int entries) {
    return fixture::encode(fixture::indexedVariant(8, BI_RGB, fixture::Header::Info, fixture::colourPalette(entries)),
                           fixture::photo(9, 6, true));
}

Bytes rle(int bits, const Bytes& stream, int width = 4, int height = 2) {
    return fixture::encodeRaw(fixture::indexedVariant(bits, bits == 8 ? BI_RLE8 : BI_RLE4, fixture::Header::Info,
                                                      fixture::colourPalette(4)),
                              width, height, stream);
}

Bytes bitfields16(std::array<std::uint32_t, 3> masks) {
    Bytes bytes = fixture::encode(fixture::maskVariant(16, BI_BITFIELDS, fixture::Header::Info), fixture::photo(4, 2, false));
    for (std::size_t i = 0; i < 3; ++i) poke32(bytes, kMasks + 4 * i, masks[i]);
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
    void rleStreams_data();
    void rleStreams();
    void missingFilesAndFolders();
    void buffersThatDoNotFitTheFile();
    void mediaThatFailOrShrinkUnderTheReader_data();
    void mediaThatFailOrShrinkUnderTheReader();

private:
    QTemporaryDir dir_;
};

void BmpHostileTest::refusedWithItsCode_data() {
    QTest::addColumn<Bytes>("bytes");
    QTest::addColumn<int>("infoCode");  // from bmpinfo
    QTest::addColumn<int>("loadCode");  // from allocimage and loadbmp, when bmpinfo succeeds
    QTest::addColumn<Colours>("expected");  // the picture, for files that read
    QTest::addColumn<qulonglong>("limit");  // for one picture's memory; 0: the machine's
    QTest::addColumn<qulonglong>("needed");  // what imaging_bytes_needed reports, if not 0 (then more than the limit)
    const auto row = [](const char* name, const Bytes& bytes, int info, int load, const Colours& expected = {},
                        qulonglong limit = 0, qulonglong needed = 0) {
        QTest::newRow(name) << bytes << info << load << expected << limit << needed;
    };
    const auto poked = [](Bytes b, std::size_t at, std::uint32_t v) { return poke32(b, at, v), b; };

    const Bytes good = rgb24();
    row("empty file", Bytes{}, IMG_ERR_NOT_BMP, 0);
    row("a PNG", Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13}, IMG_ERR_NOT_BMP, 0);
    row("signature only", Bytes{'B', 'M', 0, 0}, IMG_ERR_TRUNCATED, 0);
    row("header cut short", Bytes(good.begin(), good.begin() + 30), IMG_ERR_TRUNCATED, 0);
    row("header size 7", poked(good, 14, 7), IMG_ERR_CORRUPT, 0);
    row("header size 4 GiB", poked(good, 14, 0xFFFFFFF0u), IMG_ERR_TRUNCATED, 0);
    row("zero width", poked(good, kWidth, 0), IMG_ERR_CORRUPT, 0);
    row("negative width", poked(good, kWidth, 0xFFFFFFF7u), IMG_ERR_CORRUPT, 0);
    row("zero height", poked(good, kHeight, 0), IMG_ERR_CORRUPT, 0);
    row("most negative height", poked(good, kHeight, 0x80000000u), IMG_ERR_CORRUPT, 0);
    // Planes and bit count share a word, as bit count and compression do.
    row("two planes", poked(good, kPlanes, 2 | 24 << 16), IMG_ERR_CORRUPT, 0);
    row("7 bits per pixel", poked(good, kBitCount, 7), IMG_ERR_CORRUPT, 0);
    row("RLE8 at 24 bits", poked(good, kCompression, BI_RLE8), IMG_ERR_CORRUPT, 0);
    row("bit fields at 24 bits", poked(good, kCompression, BI_BITFIELDS), IMG_ERR_CORRUPT, 0);
    row("unknown compression", poked(good, kCompression, 99), IMG_ERR_CORRUPT, 0);
    row("embedded JPEG that is not one", poked(good, kCompression, BI_JPEG), IMG_OK, IMG_ERR_CORRUPT);
    row("embedded PNG that is not one", poked(good, kCompression, BI_PNG), IMG_OK, IMG_ERR_CORRUPT);
    {
        const auto embedded = [](std::uint32_t compression, const Bytes& stream) {
            return fixture::encodeRaw(fixture::maskVariant(0, compression, fixture::Header::Info), 9, 6, stream);
        };
        const Bytes jpeg = fixture::jpegOf(fixture::photo(9, 6, false)), png = fixture::pngOf(fixture::photo(9, 6, false));
        row("embedded JPEG cut short", embedded(BI_JPEG, Bytes(jpeg.begin(), jpeg.end() - 100)), 0, IMG_ERR_TRUNCATED);
        row("embedded PNG cut short", embedded(BI_PNG, Bytes(png.begin(), png.end() - 30)), 0, IMG_ERR_TRUNCATED);
        row("embedded JPEG of another size", embedded(BI_JPEG, fixture::jpegOf(fixture::photo(9, 5, false))), 0, IMG_ERR_CORRUPT);
        row("embedded PNG of another size", embedded(BI_PNG, fixture::pngOf(fixture::photo(9, 7, false))), 0, IMG_ERR_CORRUPT);
        // libjpeg only warns, and makes the rest of the scan up.
        row("embedded JPEG with a marker in its data",
            embedded(BI_JPEG, edited(jpeg, [](Bytes& b) { b[b.size() - 12] = 0xFF, b[b.size() - 11] = 0xD3; })), 0, IMG_ERR_CORRUPT);
        // The sRGB chunk's: libpng would only warn about an ancillary chunk.
        row("embedded PNG with a bad checksum", embedded(BI_PNG, edited(png, [](Bytes& b) { b[45] ^= 1; })), 0, IMG_ERR_CORRUPT);
        // Harmless: a newer JFIF version; a bit count and a pixel offset the stream makes moot.
        row("embedded JPEG of JFIF 2.01", embedded(BI_JPEG, edited(jpeg, [](Bytes& b) { b[11] = 2; })), 0, 0);
        row("embedded PNG, 8 bits, no pixel offset",
            edited(embedded(BI_PNG, png), [](Bytes& b) { b[kBitCount] = 8, poke32(b, kOffBits, 0); }), 0, 0);
    }
    row("CMYK", poked(good, kCompression, 11), IMG_ERR_UNSUPPORTED, 0);
    row("pixel offset past the end", poked(good, kOffBits, 0x7FFFFFFF), IMG_ERR_CORRUPT, 0);
    row("pixel offset inside the header", poked(good, kOffBits, 20), IMG_ERR_CORRUPT, 0);
    row("overlapping masks", bitfields16({0xFC00, 0x07E0, 0x001F}), IMG_ERR_CORRUPT, 0);
    row("mask wider than the pixel", bitfields16({0x1F0000, 0x07E0, 0x001F}), IMG_ERR_CORRUPT, 0);
    row("no colour masks", bitfields16({0, 0, 0}), IMG_ERR_CORRUPT, 0);
    const Bytes masks = bitfields16({0xF800, 0x07E0, 0x001F});
    row("masks cut off by the end of the file", Bytes(masks.begin(), masks.begin() + kMasks + 6), IMG_ERR_TRUNCATED, 0);
    // To OS/2 this code is Huffman 1D, not bit fields, and Huffman rows are 1-bit.
    row("OS/2 header with bit fields", fixture::encode(fixture::maskVariant(16, BI_BITFIELDS, fixture::Header::Os2,
                                                                            {0xF800, 0x07E0, 0x001F, 0}),
                                                       fixture::photo(4, 2, false)),
        IMG_ERR_CORRUPT, 0);
    {
        // OS/2 Huffman 1D streams written bit by bit ('0', '1', spaces for reading); white 0, black 1.
        const auto huffman = [](const std::string& bits, int width, int height) {
            Bytes stream;
            int n = 0;
            for (char c : bits) {
                if (c == ' ') continue;
                if (n % 8 == 0) stream.push_back(0);
                stream.back() |= static_cast<std::uint8_t>((c - '0') << (7 - n++ % 8));
            }
            return fixture::encodeRaw(fixture::indexedVariant(1, fixture::kOs2Huffman1D, fixture::Header::Os2, fixture::colourPalette(2)),
                                      width, height, stream);
        };
        const auto colours = [](int width, Bytes indices) {
            return support::paletteColours({width, static_cast<int>(indices.size()) / width, indices, {}}, fixture::colourPalette(2));
        };
        Bytes pinned(1730, 0);  // the top row is read last
        pinned.resize(1859 + 1859, 1);
        // EOL, white 0, black 1856 (an extended make-up) and 3; white 1728 and 2, black 128 and 1.
        row("Huffman codes by their bits", huffman("000000000001 00110101 00000001100 10 010011011 0111 000011001000 010", 1859, 2),
            0, 0, colours(1859, pinned));
        std::string rtc, zeroRuns;
        for (int i = 0; i < 6; ++i) rtc += " 000000000001";
        for (int i = 0; i < 100; ++i) zeroRuns += " 0000110111 00110101";
        row("Huffman page closed before its top row", huffman("00110101 11" + rtc, 2, 2), 0, 0, colours(2, {0, 0, 1, 1}));
        row("Huffman stream cut inside a row", huffman("0111", 4, 1), 0, IMG_ERR_TRUNCATED);
        row("Huffman run past the row", huffman("0111 11 1000", 6, 1), 0, IMG_ERR_CORRUPT);
        row("Huffman EOL inside a row", huffman("0111 000000000001 0111", 4, 1), 0, IMG_ERR_CORRUPT);
        row("Huffman no such code", huffman("0111 11 000000001", 5, 1), 0, IMG_ERR_CORRUPT);
        row("Huffman zero-length runs past what the picture needs", huffman("000111" + zeroRuns, 2, 1), 0, IMG_ERR_CORRUPT);
        row("Huffman fill past what the picture needs", edited(huffman("", 1, 1), [](Bytes& b) { b.resize(b.size() + 100); }), 0,
            IMG_ERR_CORRUPT);
        // The stream is read as far as the picture needs, in memory to match.
        row("Huffman picture, then 1 MiB", edited(huffman("000111", 1, 1), [](Bytes& b) { b.resize(b.size() + (1 << 20), 0xFF); }),
            0, 0, colours(1, {0}), 64);
    }
    row("core header at 32 bits", fixture::encode(fixture::maskVariant(32, BI_RGB, fixture::Header::Core), fixture::photo(4, 2, false)),
        IMG_ERR_CORRUPT, 0);
    row("RLE top-down", poked(rle(8, {0, 1}), kHeight, static_cast<std::uint32_t>(-2)), IMG_ERR_CORRUPT, 0);
    const auto rle24 = [](const Bytes& s) {
        return fixture::encodeRaw(fixture::maskVariant(24, fixture::kOs2Rle24, fixture::Header::Os2), 2, 1, s);
    };
    row("RLE24 colour cut off", rle24({1, 1, 2, 3, 1, 4}), 0, IMG_ERR_TRUNCATED);
    row("RLE24 absolute run past the padding", rle24({0, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 1}), 0, IMG_ERR_CORRUPT);

    // The header is sound; the trouble is in the pixels or the size.
    row("pixel data cut short", Bytes(good.begin(), good.end() - 40), 0, IMG_ERR_TRUNCATED);
    row("no pixel data at all", Bytes(good.begin(), good.begin() + 54), 0, IMG_ERR_TRUNCATED);
    const Bytes palette = pal8(256);
    row("palette image cut short", Bytes(palette.begin(), palette.end() - 9), 0, IMG_ERR_TRUNCATED);
    row("a billion pixels in a small file",
        edited(good, [](Bytes& b) { poke32(b, kWidth, 1 << 30); poke32(b, kHeight, 1 << 30); }), 0, IMG_ERR_TOO_LARGE);
    row("the largest a JPEG holds, in a small file",
        edited(good, [](Bytes& b) { poke32(b, kWidth, 65500); poke32(b, kHeight, 65500); }), 0, IMG_ERR_NO_MEMORY, {},
        1ull << 30, 196500ull * 65500);
    // Rows kept as the file has them, or an RLE stream, count with the 24-bit or 8-bit buffer.
    const auto kept = [](int bits) { return fixture::encode(fixture::maskVariant(bits, BI_RGB, fixture::Header::Info), fixture::photo(64, 64, false)); };
    row("16-bit rows beside the buffer, over the limit", kept(16), 0, IMG_ERR_NO_MEMORY, {}, 20479, 192 * 64 + 128 * 64);
    row("32-bit rows beside the buffer, at the limit", kept(32), 0, IMG_OK, {}, 192 * 64 + 256 * 64);
    row("64-bit rows beside the buffer, over the limit", kept(64), 0, IMG_ERR_NO_MEMORY, {}, 45055, 192 * 64 + 512 * 64);
    const Bytes rle8 = fixture::encode(fixture::indexedVariant(8, BI_RLE8, fixture::Header::Info, fixture::colourPalette(256)),
                                       fixture::photo(64, 64, true));
    row("RLE stream beside the buffer, over the limit", rle8, 0, IMG_ERR_NO_MEMORY, {}, 64 * 64);
    row("large image, small file", edited(good, [](Bytes& b) { poke32(b, kWidth, 4000); poke32(b, kHeight, 3000); }), 0,
        IMG_ERR_TRUNCATED);

    // Headers that overstate or misplace things, read the way other viewers do.
    const auto inPalette = [](int entries) { return support::paletteColours(fixture::photo(9, 6, true), fixture::colourPalette(entries)); };
    row("palette of 4 billion entries", poked(palette, kClrUsed, 0xFFFFFFFFu), 0, 0, inPalette(256));
    row("palette count running into the pixels", poked(pal8(16), kClrUsed, 256), 0, 0, inPalette(16));
    row("no pixel offset", poked(palette, kOffBits, 0), 0, 0, inPalette(256));
    fixture::Variant v5;
    v5.header = fixture::Header::V5;
    v5.icc = Bytes(32, 7);
    row("colour profile outside the file", poked(fixture::encode(v5, fixture::photo(9, 6, false)), 14 + 112, 0x7FFFFFF0), 0, 0,
        fixture::photo(9, 6, false).colours);
}

void BmpHostileTest::refusedWithItsCode() {
    QFETCH(Bytes, bytes);
    QFETCH(int, infoCode);
    QFETCH(int, loadCode);
    QFETCH(Colours, expected);
    QFETCH(qulonglong, limit);
    QFETCH(qulonglong, needed);
    const QByteArray path = support::writeTemp(dir_, "hostile.bmp", bytes);
    ImageDescriptor image{};
    imaging_set_memory_limit(limit);
    const imaging::Loaded loaded = imaging::loadPicture(path.constData(), image);
    imaging_set_memory_limit(0);
    QCOMPARE(loaded.failed == imaging::LoadStep::Info ? loaded.code : IMG_OK, infoCode);
    if (infoCode == IMG_OK) QCOMPARE(loaded.code, loadCode);
    if (loaded.code != IMG_ERR_NO_MEMORY) QCOMPARE(imaging_bytes_needed(), 0ull);
    if (loaded.code == IMG_ERR_NO_MEMORY) QVERIFY(imaging_bytes_needed() > limit);
    if (needed != 0) QCOMPARE(imaging_bytes_needed(), needed);
    if (!expected.empty()) QCOMPARE(support::coloursOf(image), expected);
    freeimage(&image);
}

void BmpHostileTest::rleStreams_data() {
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<Bytes>("stream");
    QTest::addColumn<int>("code");
    QTest::addColumn<Bytes>("expected");  // indices, top row first; pixels never drawn keep 0
    QTest::addColumn<qint64>("tail");  // bytes of nothing (a sparse file) after the stream
    const auto row = [](const char* name, int bits, int w, int h, const Bytes& stream, int code, const Bytes& expected = {},
                        qint64 tail = 0) {
        QTest::newRow(name) << bits << w << h << stream << code << expected << tail;
    };
    // Two of 5, right 2 and up 1, an absolute run of three, then an early end.
    row("RLE8 delta, absolute run, early end", 8, 6, 4, {2, 5, 0, 2, 1, 1, 0, 3, 7, 8, 9, 0, 0, 1}, IMG_OK,
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 8, 9, 5, 5, 0, 0, 0, 0});
    row("RLE8 delta sending a run past the padding", 8, 6, 4, {2, 5, 0, 2, 4, 1, 0, 3, 7, 8, 9, 0, 0, 1}, IMG_ERR_CORRUPT);
    // ImageMagick's smallest: the last run goes on through the padding, where it is cut.
    row("RLE8 run into the padding", 8, 5, 1, {1, 1, 7, 0, 0, 0, 0, 1}, IMG_OK, {1, 0, 0, 0, 0});
    row("RLE8 runs within the padding", 8, 5, 2, {5, 2, 3, 3, 0, 0, 0, 3, 4, 5, 6, 0, 0, 1}, IMG_OK, {4, 5, 6, 0, 0, 2, 2, 2, 2, 2});
    row("RLE8 run past the padding", 8, 5, 1, {1, 1, 8, 0, 0, 1}, IMG_ERR_CORRUPT);
    row("RLE8 run past the right edge", 8, 4, 2, {5, 1, 0, 1}, IMG_ERR_CORRUPT);
    row("RLE8 absolute run past the edge", 8, 4, 2, {0, 5, 1, 2, 3, 1, 2, 0, 0, 1}, IMG_ERR_CORRUPT);
    row("RLE8 delta out of the image", 8, 4, 2, {0, 2, 1, 9, 0, 1}, IMG_ERR_CORRUPT);
    row("RLE8 rows past the top", 8, 4, 2, {4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 1}, IMG_ERR_CORRUPT);
    row("RLE8 stream without end", 8, 4, 2, {4, 1, 0, 0, 2, 1}, IMG_ERR_TRUNCATED);
    row("RLE8 absolute run cut off", 8, 4, 2, {0, 4, 1, 2}, IMG_ERR_TRUNCATED);
    row("RLE8 delta cut off", 8, 4, 2, {0, 2, 1}, IMG_ERR_TRUNCATED);
    row("RLE4 odd absolute run, alternating run", 4, 5, 2, {0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 5, 0x12, 0, 1}, IMG_OK,
        {1, 2, 1, 2, 1, 1, 2, 3, 4, 5});
    row("RLE4 odd counts", 4, 4, 2, {3, 0x12, 0, 0, 0, 3, 0x45, 0x60, 0, 1}, IMG_OK, {4, 5, 6, 0, 1, 2, 1, 0});
    row("RLE4 no end marker once every row is drawn", 4, 4, 2, {4, 0x12, 0, 0, 4, 0x34}, IMG_OK, {3, 4, 3, 4, 1, 2, 1, 2});
    // A 4-pixel RLE4 row has padding for 4 more.
    row("RLE4 runs into the padding", 4, 4, 2, {0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 7, 0x67, 0, 1}, IMG_OK, {6, 7, 6, 7, 1, 2, 3, 4});
    row("RLE4 run past the padding", 4, 4, 2, {9, 0x12, 0, 1}, IMG_ERR_CORRUPT);
    row("RLE4 absolute run past the padding", 4, 4, 2, {0, 9, 0x12, 0x34, 0x56, 0x78, 0x90, 0, 0, 1}, IMG_ERR_CORRUPT);
    row("RLE4 delta past the padding", 4, 4, 2, {0, 2, 9, 0, 0, 1}, IMG_ERR_CORRUPT);
    row("RLE4 delta past the top", 4, 4, 2, {0, 2, 0, 3, 0, 1}, IMG_ERR_CORRUPT);
    row("RLE4 end of file mid escape", 4, 4, 2, {4, 0x12, 0, 0, 0}, IMG_ERR_TRUNCATED);
    row("RLE4 absolute run cut off", 4, 4, 2, {0, 6, 0x12}, IMG_ERR_TRUNCATED);
    row("RLE4 delta cut off", 4, 4, 2, {0, 2, 1}, IMG_ERR_TRUNCATED);

    // Read as far as the picture needs: what lies past it is never read.
    constexpr qint64 k2GiB = qint64{1} << 31;
    row("RLE8 end marker, then 2 GiB of nothing", 8, 1, 1, {1, 5, 0, 1}, IMG_OK, {5}, k2GiB);
    row("RLE4 every row drawn, then 2 GiB of nothing", 4, 4, 2, {4, 0x12, 0, 0, 4, 0x34}, IMG_OK, {3, 4, 3, 4, 1, 2, 1, 2}, k2GiB);
    // Runs of every length, absolute ones mostly, over several reads' worth of stream.
    Bytes stream, indices(600 * 2000);
    for (int y = 0; y < 2000; ++y) {
        for (int x = 0, k = 0, n; x < 600; x += n, ++k) {
            n = std::min(600 - x, 1 + (37 * k + y) % 255);
            const auto at = [&](int i) { return static_cast<std::uint8_t>(x + i + y); };
            const bool absolute = n >= 3 && k % 4 != 0;
            if (absolute) {
                stream.insert(stream.end(), {0, static_cast<std::uint8_t>(n)});
                for (int i = 0; i < n; ++i) stream.push_back(at(i));
                if (n % 2) stream.push_back(0);
            } else {
                stream.insert(stream.end(), {static_cast<std::uint8_t>(n), at(0)});
            }
            for (int i = 0; i < n; ++i) indices[static_cast<std::size_t>((1999 - y) * 600 + x + i)] = at(absolute ? i : 0);
        }
        stream.insert(stream.end(), {0, 0});
    }
    stream.insert(stream.end(), {0, 1});
    row("RLE8 over several reads, then 2 GiB of nothing", 8, 600, 2000, stream, IMG_OK, indices, k2GiB);
    // No legal stream for one pixel is longer than 16 bytes.
    Bytes standStill;
    for (int i = 0; i < 100; ++i) standStill.insert(standStill.end(), {0, 2, 0, 0});
    row("RLE8 deltas that move nowhere, past what the picture needs", 8, 1, 1, standStill, IMG_ERR_CORRUPT);
}

// Into an 8-bit buffer, where each pixel's index shows as it is.
void BmpHostileTest::rleStreams() {
    QFETCH(int, bits);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(Bytes, stream);
    QFETCH(int, code);
    QFETCH(Bytes, expected);
    QFETCH(qint64, tail);
    const Bytes bytes = rle(bits, stream, width, height);
    const QByteArray path = support::writeTemp(dir_, "rle.bmp", bytes);
    if (tail != 0) {
        const auto size = static_cast<qint64>(bytes.size());
        QVERIFY(::truncate(path.constData(), size + tail) == 0);
        imaging_fail_reads_from(size + (1 << 20));  // reading into the tail shows as a read error
    }
    ImageDescriptor image{};
    QCOMPARE(allocimage(&image, width, height, 8), IMG_OK);
    const int rc = loadbmp(path.constData(), &image);
    imaging_fail_reads_from(-1);
    QCOMPARE(rc, code);
    Bytes got;
    const support::ImageRows rows = support::rowsOf(image);
    for (int y = 0; code == IMG_OK && y < height; ++y) got.insert(got.end(), rows.row(y), rows.row(y) + width);
    QCOMPARE(got, expected);
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
    const QByteArray indexed = support::writeTemp(dir_, "pal.bmp", pal8(256));
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
        QCOMPARE(support::jpegHeader(QFile::encodeName(dir_.filePath("shaky.jpg"))).width, size);
    }
    freeimage(&image);
}

QTEST_APPLESS_MAIN(BmpHostileTest)
#include "tst_bmp_hostile.moc"
