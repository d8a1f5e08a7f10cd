// Arbitrary bytes through the whole conversion: bmpinfo, allocimage, loadbmp,
// 1-bit widening and savejpg. Nothing may crash, leak or read out of bounds.
#include "imaging.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Large images only make the fuzzer slow; their arithmetic is checked the same way small.
constexpr long long kMaxPixels = 1 << 20;
constexpr long long kMaxSavedPixels = 1 << 16;

const std::string& inputPath() {
    static const std::string path = "/proc/self/fd/" + std::to_string(::memfd_create("fuzz-bmp", 0));
    return path;
}

// Written in the working folder, replaced on every run.
constexpr const char* kOutputPath = "fuzz-bmp-out.jpg";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& in = inputPath();
    const int fd = std::atoi(in.c_str() + sizeof "/proc/self/fd/" - 1);
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;

    BITMAPINFOHEADER header{};
    if (bmpinfo(in.c_str(), &header) != IMG_OK) return 0;
    const long long width = header.biWidth;
    const long long height = std::llabs(static_cast<long long>(header.biHeight));
    if (width * height > kMaxPixels) return 0;

    int depth = header.biBitCount >= 16 ? 24 : header.biBitCount;
    // Also try indexed files into a colour buffer, as another caller might.
    if (size > 0 && (data[size - 1] & 1) && depth < 24) depth = 24;
    ImageDescriptor image{};
    if (allocimage(&image, header.biWidth, static_cast<int>(height), depth) != IMG_OK) return 0;
    if (loadbmp(in.c_str(), &image) == IMG_OK) {
        if (depth == 1) {
            ImageDescriptor wide{};
            if (allocimage(&wide, image.width(), image.height(), 8) == IMG_OK &&
                convert1bitto8bit(&image, &wide) == IMG_OK) {
                freeimage(&image);
                copyimgdes(&wide, &image);
            }
            freeimage(&wide);
        }
        if (width * height <= kMaxSavedPixels) savejpg(kOutputPath, &image, 75);
    }
    freeimage(&image);
    return 0;
}
