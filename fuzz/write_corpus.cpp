// Writes a small bitmap of every variant into a folder: the fuzzer's starting corpus.
#include "bmp_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

using namespace fixture;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_bmp_corpus FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    if (std::system(("mkdir -p '" + folder + "'").c_str()) != 0) return 1;

    struct Sample {
        const char* name;
        Variant v;
        std::size_t tail = 0;  // bytes of nothing after the pixels, as padded files have
    };
    auto indexed = [](int bits, std::uint32_t compression, Header h, int entries) {
        return indexedVariant(bits, compression, h, colourPalette(entries));
    };
    Variant top;
    top.topDown = true;
    Variant padded = indexed(8, BI_RLE8, Header::Info, 256);
    padded.runsIntoPadding = true;  // as ImageMagick writes it
    Variant rle24;
    rle24.header = Header::Os2;
    rle24.compression = kOs2Rle24;
    Variant jpeg;
    jpeg.bits = 0;
    jpeg.compression = BI_JPEG;
    Variant png = jpeg;
    png.compression = BI_PNG;
    Variant v5icc;
    v5icc.header = Header::V5;
    v5icc.icc = std::vector<std::uint8_t>(64, 0x42);
    const Sample samples[] = {
        {"pal1", indexed(1, BI_RGB, Header::Info, 2)},
        {"pal1-core", indexed(1, BI_RGB, Header::Core, 2)},
        {"pal2", indexed(2, BI_RGB, Header::Info, 4)},
        {"pal4-short", indexed(4, BI_RGB, Header::Info, 5)},
        {"pal8-os2", indexed(8, BI_RGB, Header::Os2, 256)},
        {"rle8", indexed(8, BI_RLE8, Header::Info, 256)},
        {"rle4", indexed(4, BI_RLE4, Header::Info, 16)},
        {"rle8-tail", indexed(8, BI_RLE8, Header::Info, 256), 4096},
        {"rle8-padded", padded},
        {"rle24-os2", rle24},
        {"huffman-os2", indexed(1, kOs2Huffman1D, Header::Os2, 2)},
        {"jpeg", jpeg},
        {"png", png},
        {"rgb16", maskVariant(16, BI_RGB, Header::Info, {})},
        {"rgb565", maskVariant(16, BI_BITFIELDS, Header::Info, {0xF800, 0x07E0, 0x001F, 0})},
        {"argb4444", maskVariant(16, BI_ALPHABITFIELDS, Header::Info, {0x0F00, 0x00F0, 0x000F, 0xF000})},
        {"rgb32", maskVariant(32, BI_RGB, Header::Info, {})},
        {"argb32-v5", maskVariant(32, BI_BITFIELDS, Header::V5, {0xFF0000, 0xFF00, 0xFF, 0xFF000000})},
        {"rgb101010", maskVariant(32, BI_BITFIELDS, Header::V3, {0x3FF00000, 0x000FFC00, 0x000003FF, 0})},
        {"rgba64", maskVariant(64, BI_RGB, Header::Info, {})},
        {"rgb24", Variant{}},
        {"rgb24-topdown", top},
        {"rgb24-v5-icc", v5icc},
    };
    int written = 0;
    for (const Sample& s : samples) {
        Picture p = photo(13, 7, s.v.bits != 0 && s.v.bits <= 8, static_cast<unsigned>(written));
        for (auto& i : p.indices) i = static_cast<std::uint8_t>(i >> (8 - s.v.bits)) % std::max<std::size_t>(1, s.v.palette.size() + 1);
        for (auto& c : p.colours) c.a = static_cast<std::uint8_t>(c.r ^ c.b);
        std::vector<std::uint8_t> bytes = encode(s.v, p);
        bytes.resize(bytes.size() + s.tail);
        written += writeFile(folder + "/" + s.name + ".bmp", bytes) ? 1 : 0;
    }
    std::printf("%d bitmaps written to %s\n", written, folder.c_str());
    return written == static_cast<int>(std::size(samples)) ? 0 : 1;
}
