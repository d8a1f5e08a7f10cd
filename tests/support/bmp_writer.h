// Writes bitmaps of every variant from known pixels, for tests, benchmarks
// and the fuzz corpus.
#pragma once

#include "imaging.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace fixture {

enum class Header { Core, Os2, Info, V2, V3, V4, V5 };

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};

// Pixels listed from the top row down: palette indices for depths up to 8,
// colours for the others.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> indices;
    std::vector<Rgba> colours;
};

// OS/2's codes for compressions Windows numbers otherwise.
constexpr std::uint32_t kOs2Huffman1D = 3;
constexpr std::uint32_t kOs2Rle24 = 4;

struct Variant {
    int bits = 24;
    // BI_RLE8/BI_RLE4 and OS/2's Huffman 1D are encoded from the indices,
    // OS/2's RLE24 from the colours; BI_JPEG and BI_PNG (bits 0) embed the
    // picture as jpegOf and pngOf make it.
    std::uint32_t compression = BI_RGB;
    bool runsIntoPadding = false;  // RLE rows encoded as far as their padding, as ImageMagick does
    Header header = Header::Info;
    bool topDown = false;
    std::vector<RGBQUAD> palette;  // entries written to the file
    std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha, for bit fields
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::vector<std::uint8_t> icc;  // embedded in a V5 header
    std::uint8_t filler = 0;  // the unused fourth byte of plain 32-bit pixels
};

// The usual starting points: an indexed variant with its palette, and a
// 16/32/64-bit one with its masks (all zero: the format's default masks).
Variant indexedVariant(int bits, std::uint32_t compression, Header header, std::vector<RGBQUAD> palette);
Variant maskVariant(int bits, std::uint32_t compression, Header header, std::array<std::uint32_t, 4> masks = {});

// The pixel value a channel of `bits` bits stores for the 8-bit level c.
std::uint32_t toChannel(std::uint8_t c, std::uint32_t mask);

// A whole .bmp file.
std::vector<std::uint8_t> encode(const Variant& v, const Picture& p);
// A .bmp file around pixel data made by hand (RLE streams, cut-off data).
std::vector<std::uint8_t> encodeRaw(const Variant& v, int width, int height, const std::vector<std::uint8_t>& pixelData);

// Pixel data of OS/2's Huffman 1D: each row's runs in T.4 modified Huffman
// codes, index 0 white, starting with an end-of-line code.
std::vector<std::uint8_t> huffmanEncode(const Picture& p);

// libjpeg-turbo's JPEG of packed rows, `components` bytes a pixel in the
// J_COLOR_SPACE `space`, with its default settings at `quality`.
std::vector<std::uint8_t> compressRows(const std::uint8_t* pixels, int width, int height, int components, int space,
                                       int quality);

// The picture's colours as a whole JPEG file (libjpeg-turbo, quality 90) or
// PNG file (libpng, with its alpha).
std::vector<std::uint8_t> jpegOf(const Picture& p);
std::vector<std::uint8_t> pngOf(const Picture& p);

// A smooth, photo-like picture with noise, as colours or as indices.
Picture photo(int width, int height, bool indexed, unsigned seed = 1);

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

std::vector<RGBQUAD> grayPalette(int entries);
std::vector<RGBQUAD> colourPalette(int entries);

}  // namespace fixture
