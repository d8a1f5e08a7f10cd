// Arbitrary bytes through the whole conversion: bmpinfo, allocimage, loadbmp,
// 1-bit widening and savejpg. Nothing may crash, leak or read out of bounds.
#include "file_util.h"
#include "imaging.h"
#include "load_sequence.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

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
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0 || !files::writeAll(fd, data, size)) return 0;

    // Large images only make the fuzzer slow; their arithmetic is checked the same way small.
    BITMAPINFOHEADER header{};
    if (bmpinfo(in.c_str(), &header) != IMG_OK) return 0;
    const long long pixels = header.biWidth * std::llabs(static_cast<long long>(header.biHeight));
    if (pixels > kMaxPixels) return 0;

    imaging::LoadOptions options;
    // Also try indexed files into a colour buffer, as another caller might.
    if (size > 0 && (data[size - 1] & 1)) options.depth = 24;
    ImageDescriptor image{};
    if (imaging::loadPicture(in.c_str(), image, options).code == IMG_OK && pixels <= kMaxSavedPixels)
        savejpg(kOutputPath, &image, 75);
    freeimage(&image);
    return 0;
}
