// Memory for pictures, and how much one picture may hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace imaging {

// Memory for pixels: recycled from images freed earlier where one fits,
// else untouched pages from the kernel (`fresh`, and zero).
struct PixelMemory {
    std::shared_ptr<std::uint8_t> bytes;
    bool fresh = false;
};
PixelMemory pixelMemory(std::size_t size);

// A large buffer's pages in with one call before it is written in full;
// page by page, first touches cost more than the decoding itself.
void prefault(std::uint8_t* bytes, std::size_t size);

// The most memory one picture may hold at once (its buffer, rows kept as
// the file stores them, the RLE stream being read): half the machine's
// physical memory, unless a test set another limit.
std::uint64_t memoryLimit();

}  // namespace imaging
