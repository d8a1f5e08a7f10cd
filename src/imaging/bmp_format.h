// Reads and checks a bitmap's headers, before any pixel is touched.
#pragma once

#include "imaging.h"

#include <array>
#include <cstdint>
#include <span>

namespace imaging {

// Header bytes the parser may look at: file header, the largest info header,
// and the bit-field masks that may follow a 40-byte header.
constexpr std::size_t kHeaderProbeBytes = 14 + 124 + 16;

enum class PixelCoding {
    Indexed, Rle8, Rle4, Masks, Bgr24, Rgba64,
    Rle24,      // OS/2: RLE8's codes with B, G, R pixels
    Huffman1D,  // OS/2: 1-bit rows in ITU-T T.4 modified Huffman codes
    Jpeg, Png,  // the pixels are a whole JPEG or PNG file
};

struct ChannelMask {
    std::uint32_t mask = 0;
    unsigned shift = 0;  // position of the lowest set bit
    std::uint32_t max = 0;  // mask >> shift; 0 for an absent channel
};

struct BmpFormat {
    BITMAPINFOHEADER info{};  // as bmpinfo reports it
    PixelCoding coding = PixelCoding::Indexed;
    int width = 0;
    int height = 0;  // always positive
    bool topDown = false;
    int bitCount = 0;
    std::array<ChannelMask, 4> masks{};  // red, green, blue, alpha (Masks coding)
    bool alphaMask = false;  // an alpha channel is declared (Masks or Rgba64)
    std::uint64_t paletteOffset = 0;
    unsigned paletteEntries = 0;  // entries present in the file, at most 256
    unsigned paletteEntrySize = 4;  // 3 for core headers
    std::uint64_t pixelOffset = 0;
    std::uint64_t fileStride = 0;  // uncompressed row size in the file
    std::uint64_t streamBytes = 0;  // an embedded JPEG's or PNG's size, as far as the file holds it
    bool streamSized = false;       // that size is the header's, not the rest of the file
    std::uint64_t iccOffset = 0;  // embedded colour profile, size 0 if none
    std::uint64_t iccSize = 0;
};

// Parses the headers from the first bytes of a file of fileSize bytes.
// `head` must hold min(fileSize, kHeaderProbeBytes) bytes.
int parseBmpHeader(std::span<const std::uint8_t> head, std::uint64_t fileSize, BmpFormat& format);

}  // namespace imaging
