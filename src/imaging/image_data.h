// What an image descriptor holds; not part of the imaging interface.
#pragma once

#include "imaging.h"

#include <cstdint>
#include <memory>
#include <span>
#include <variant>
#include <vector>

namespace imaging {

struct FileRows;

// Rows of palette indices packed at `depth` bits, from the top down.
struct PackedRows {
    std::shared_ptr<std::uint8_t> bytes;
    std::size_t stride = 0;
    int depth = 0;
    const std::uint8_t* row(int y) const { return bytes.get() + static_cast<std::size_t>(y) * stride; }
};

// Where the picture is. Pictures that the JPEG writer can take as they are
// read never pass through the buffer: unpacking them there would only cost.
namespace contents {
struct Untouched {};  // new pages, zero; best filled through the cache
struct Junk {};       // another picture's bytes: the picture is all zeros
struct Filled {};     // the buffer holds the picture
struct Kept {         // 16-, 32- and 64-bit rows as the file stores them
    std::shared_ptr<const FileRows> rows;
};
struct Packed {  // a 1-bit picture in an 8-bit descriptor
    std::shared_ptr<const PackedRows> rows;
};
struct Jpeg {  // the buffer holds the picture, and these bytes are its JPEG already
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
};
}  // namespace contents
using Contents =
    std::variant<contents::Untouched, contents::Junk, contents::Filled, contents::Kept, contents::Packed, contents::Jpeg>;

struct ImageData {
    // Rows from the top down, unlike a bitmap file's: libjpeg takes rows from
    // the top, and memory read backwards comes in measurably slower.
    std::shared_ptr<std::uint8_t> pixels;
    Contents contents;
    int width = 0;
    int height = 0;
    int depth = 0;
    std::size_t stride = 0;
    std::vector<RGBQUAD> palette;  // 2^depth entries for indexed depths
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> icc;

    bool untouched() const { return std::holds_alternative<contents::Untouched>(contents); }
};

struct ImageAccess {
    // The image an allocated descriptor describes.
    static ImageData& data(ImageDescriptor& image) { return *image.d_; }
    static const ImageData& data(const ImageDescriptor& image) { return *image.d_; }
    static std::shared_ptr<ImageData>& handle(ImageDescriptor& image) { return image.d_; }
    static const std::shared_ptr<ImageData>& handle(const ImageDescriptor& image) { return image.d_; }
};

inline bool isIndexedDepth(int depth) { return depth == 1 || depth == 2 || depth == 4 || depth == 8; }
inline bool isSupportedDepth(int depth) { return isIndexedDepth(depth) || depth == 24; }

// Bytes in one row padded to 4 bytes; 64-bit so that no width overflows it.
inline std::uint64_t paddedStride(std::uint64_t width, unsigned bits) { return (width * bits + 31) / 32 * 4; }

// Buffer row for image row y (0 = top).
inline std::uint8_t* bufferRow(const ImageData& d, int y) { return d.pixels.get() + static_cast<std::size_t>(y) * d.stride; }

// A palette of 2^depth entries: the given colours, black for the rest.
std::vector<RGBQUAD> fullPalette(std::span<const RGBQUAD> colours, int depth);

}  // namespace imaging
