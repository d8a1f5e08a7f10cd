// Shared pieces of the imaging layer; not part of its interface.
#pragma once

#include "imaging.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
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

// What a buffer still lacks, supplied once, on first use: zeros for a
// recycled buffer, the rows of pixels kept as the file stores them, or the
// packed rows of a 1-bit picture widened to 8 bits.
struct PendingRows {
    std::once_flag once;
    std::shared_ptr<const FileRows> file;
    std::shared_ptr<const PackedRows> packed;  // neither: zeros
};

// What a descriptor holds.
struct ImageData {
    // Rows from the top down, unlike a bitmap file's: libjpeg takes rows from
    // the top, and memory read backwards comes in measurably slower.
    std::shared_ptr<std::uint8_t> pixels;
    bool fresh = false;  // pages not touched yet: filled through the cache, not by the kernel
    int width = 0;
    int height = 0;
    int depth = 0;
    std::size_t stride = 0;
    std::vector<RGBQUAD> palette;  // 2^depth entries for indexed depths
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> icc;
    std::shared_ptr<PendingRows> pending;  // null: the buffer holds the picture
};

// Brings the buffer up to date (see PendingRows); safe from any thread.
void completeBuffer(const ImageData& d);

struct ImageAccess {
    // The image an allocated descriptor describes.
    static ImageData& data(ImageDescriptor& image) { return *image.d_; }
    static const ImageData& data(const ImageDescriptor& image) { return *image.d_; }
    static std::shared_ptr<ImageData>& handle(ImageDescriptor& image) { return image.d_; }
    static const std::shared_ptr<ImageData>& handle(const ImageDescriptor& image) { return image.d_; }
};

// The most memory one picture may hold at once (its buffer, rows kept as
// the file stores them, the RLE stream being read): half the machine's
// physical memory, unless a test set another limit.
std::uint64_t memoryLimit();

// Keeps what the picture just refused for memory would have needed, for
// imaging_bytes_needed; 0 clears it.
void noteBytesNeeded(std::uint64_t bytes);

inline bool isIndexedDepth(int depth) { return depth == 1 || depth == 2 || depth == 4 || depth == 8; }
inline bool isSupportedDepth(int depth) { return isIndexedDepth(depth) || depth == 24; }

// Bytes in one row padded to 4 bytes; 64-bit so that no width overflows it.
inline std::uint64_t paddedStride(std::uint64_t width, unsigned bits) { return (width * bits + 31) / 32 * 4; }

// Buffer row for image row y (0 = top).
inline std::uint8_t* bufferRow(const ImageData& d, int y) { return d.pixels.get() + static_cast<std::size_t>(y) * d.stride; }

// A large buffer's pages in with one call before it is written in full;
// page by page, first touches cost more than the decoding itself.
void prefault(std::uint8_t* bytes, std::size_t size);

// Memory for pixels: recycled from images freed earlier where one fits,
// else untouched pages from the kernel (`fresh`, and zero).
struct PixelMemory {
    std::shared_ptr<std::uint8_t> bytes;
    bool fresh = false;
};
PixelMemory pixelMemory(std::size_t size);

inline std::uint16_t readU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::int32_t readI32(const std::uint8_t* p) { return static_cast<std::int32_t>(readU32(p)); }

// Keeps the system's reason (an errno value) for the failure about to be
// returned, for imaging_os_error; 0 clears it at the start of a call.
void noteOsError(int error);

// A palette of 2^depth entries: the given colours, black for the rest.
std::vector<RGBQUAD> fullPalette(std::span<const RGBQUAD> colours, int depth);

}  // namespace imaging
