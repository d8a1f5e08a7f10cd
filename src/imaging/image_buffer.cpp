// Image descriptors: allocation, sharing, release, and 1-bit widening.
#include "index_rows.h"
#include "internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <sys/mman.h>
#include <unistd.h>

using imaging::ImageAccess;
using imaging::ImageData;
using imaging::isIndexedDepth;

const char* imaging_strerror(int code) {
    switch (code) {
    case IMG_OK: return "success";
    case IMG_ERR_OPEN: return "the file is missing or cannot be read";
    case IMG_ERR_NOT_BMP: return "the file is not a bitmap";
    case IMG_ERR_UNSUPPORTED: return "this kind of bitmap is not supported";
    case IMG_ERR_CORRUPT: return "the bitmap is damaged";
    case IMG_ERR_TRUNCATED: return "the bitmap is cut short";
    case IMG_ERR_NO_MEMORY: return "not enough memory for the image";
    case IMG_ERR_BAD_IMAGE: return "unusable image descriptor";
    case IMG_ERR_MISMATCH: return "the image does not match the file";
    case IMG_ERR_WRITE: return "the JPEG file cannot be written";
    case IMG_ERR_TOO_LARGE: return "the image is too large for a JPEG file";
    case IMG_ERR_READ: return "the file could not be read";
    default: return "unknown error";
    }
}

namespace {
thread_local int g_osError = 0;
}  // namespace

void imaging::noteOsError(int error) { g_osError = error; }
int imaging_os_error() { return g_osError; }

namespace {
constexpr std::size_t kBufferCap = std::size_t{1} << 31;
}

std::size_t imaging::bufferCap() {
    static const std::size_t cap = [] {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        if (pages <= 0 || pageSize <= 0) return kBufferCap;
        const std::size_t half = static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize) / 2;
        return std::min(kBufferCap, half);
    }();
    return cap;
}

int ImageDescriptor::width() const { return d_ ? d_->width : 0; }
int ImageDescriptor::height() const { return d_ ? d_->height : 0; }
int ImageDescriptor::depth() const { return d_ ? d_->depth : 0; }
std::size_t ImageDescriptor::stride() const { return d_ ? d_->stride : 0; }
std::int32_t ImageDescriptor::xPelsPerMeter() const { return d_ ? d_->xPelsPerMeter : 0; }
std::int32_t ImageDescriptor::yPelsPerMeter() const { return d_ ? d_->yPelsPerMeter : 0; }

std::span<const RGBQUAD> ImageDescriptor::palette() const {
    if (!d_) return {};
    return d_->palette;
}

const std::uint8_t* ImageDescriptor::row(int y) const {
    if (!d_ || y < 0 || y >= d_->height) return nullptr;
    return imaging::bufferRow(*d_, y);
}

namespace imaging {

std::vector<RGBQUAD> fullPalette(std::span<const RGBQUAD> colours, int depth) {
    std::vector<RGBQUAD> palette(std::size_t{1} << depth, RGBQUAD{0, 0, 0, 0});
    std::copy_n(colours.begin(), std::min(colours.size(), palette.size()), palette.begin());
    return palette;
}

}  // namespace imaging

namespace {

// Large buffers come straight from the kernel as untouched zero pages: no
// memset, and nothing is paid for pages a fast-path load never uses. (malloc
// would recycle freed memory once its mapping threshold has grown, and clear it.)
constexpr std::size_t kMapFrom = 256 * 1024;
constexpr std::size_t kHugeFrom = 2 * 1024 * 1024;

// Each thread keeps the last large buffer it released, up to kSpareUpTo: in a
// batch of pictures of one size, clearing it costs far less than fresh pages
// (mapping, zeroing and unmapping them cost more than encoding a mid-sized
// JPEG). Trivially destructible, so a release at the thread's very end still
// finds it; the spare goes back to the kernel when the thread ends.
constexpr std::size_t kSpareUpTo = 64 * 1024 * 1024;
struct Spare {
    void* p;
    std::size_t bytes;
    bool closed;
};
thread_local Spare spare{};
struct SpareCloser {
    ~SpareCloser() {
        if (spare.p != nullptr) ::munmap(spare.p, spare.bytes);
        spare = {nullptr, 0, true};
    }
};
thread_local SpareCloser spareCloser;

void releaseMapping(void* p, std::size_t bytes) {
    if (spare.p == nullptr && !spare.closed && bytes <= kSpareUpTo) {
        (void)&spareCloser;  // its first use arranges the release at the thread's end
        spare = {p, bytes, false};
    } else {
        ::munmap(p, bytes);
    }
}

}  // namespace

namespace imaging {

std::shared_ptr<std::uint8_t> zeroedBuffer(std::size_t bytes) {
    if (bytes < kMapFrom) {
        void* p = std::calloc(bytes, 1);
        if (p == nullptr) return nullptr;
        return std::shared_ptr<std::uint8_t>(static_cast<std::uint8_t*>(p), [](std::uint8_t* q) { std::free(q); });
    }
    void* p = nullptr;
    std::size_t mapped = bytes;
    if (spare.p != nullptr && spare.bytes >= bytes && spare.bytes / 2 <= bytes) {
        p = std::exchange(spare.p, nullptr);
        mapped = spare.bytes;
        std::memset(p, 0, bytes);
    } else {
        p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return nullptr;
        // Huge pages make the first touch of a large buffer several times cheaper.
        if (bytes >= kHugeFrom) ::madvise(p, bytes, MADV_HUGEPAGE);
    }
    return std::shared_ptr<std::uint8_t>(static_cast<std::uint8_t*>(p), [mapped](std::uint8_t* q) { releaseMapping(q, mapped); });
}

void prefault(std::uint8_t* buffer, std::size_t bytes) {
    static const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    if (bytes >= kMapFrom && reinterpret_cast<std::uintptr_t>(buffer) % pageSize == 0)
        ::madvise(buffer, bytes, MADV_POPULATE_WRITE);
}

void prefault(ImageData& d) { prefault(d.pixels.get(), d.stride * static_cast<std::size_t>(d.height)); }

}  // namespace imaging

int allocimage(ImageDescriptor* image, int width, int height, int bppixel) {
    if (image == nullptr) return IMG_ERR_BAD_IMAGE;
    if (width <= 0 || height <= 0 || !imaging::isSupportedDepth(bppixel)) return IMG_ERR_BAD_IMAGE;
    // 64-bit arithmetic: width * 24 cannot overflow, and the cap bounds the rest.
    const std::uint64_t stride = imaging::paddedStride(static_cast<std::uint64_t>(width), static_cast<unsigned>(bppixel));
    const std::uint64_t bytes = stride * static_cast<std::uint64_t>(height);
    if (bytes / stride != static_cast<std::uint64_t>(height) || bytes > imaging::bufferCap())
        return IMG_ERR_NO_MEMORY;

    std::shared_ptr<std::uint8_t> pixels = imaging::zeroedBuffer(static_cast<std::size_t>(bytes));
    if (!pixels) return IMG_ERR_NO_MEMORY;

    auto fresh = std::make_shared<ImageData>();
    ImageData& d = *fresh;
    d.pixels = std::move(pixels);
    d.width = width;
    d.height = height;
    d.depth = bppixel;
    d.stride = static_cast<std::size_t>(stride);
    if (isIndexedDepth(bppixel)) {
        const unsigned entries = 1u << bppixel;
        d.palette.resize(entries);
        for (unsigned i = 0; i < entries; ++i) {
            const auto gray = static_cast<std::uint8_t>(i * 255 / (entries - 1));
            d.palette[i] = RGBQUAD{gray, gray, gray, 0};
        }
    }
    ImageAccess::handle(*image) = std::move(fresh);
    return IMG_OK;
}

void freeimage(ImageDescriptor* image) {
    if (image != nullptr) ImageAccess::handle(*image).reset();
}

void copyimgdes(const ImageDescriptor* srcimg, ImageDescriptor* desimg) {
    if (srcimg == nullptr || desimg == nullptr || srcimg == desimg) return;
    ImageAccess::handle(*desimg) = ImageAccess::handle(*srcimg);
}

int convert1bitto8bit(const ImageDescriptor* srcimg, ImageDescriptor* desimg) {
    if (srcimg == nullptr || desimg == nullptr || !srcimg->allocated() || !desimg->allocated())
        return IMG_ERR_BAD_IMAGE;
    const ImageData& src = ImageAccess::data(*srcimg);
    ImageData& dst = ImageAccess::data(*desimg);
    if (src.depth != 1 || dst.depth != 8 || src.width != dst.width || src.height != dst.height ||
        src.pixels == dst.pixels)
        return IMG_ERR_MISMATCH;

    imaging::prefault(dst);
    const imaging::IndexExpander unpack = imaging::IndexExpander::indices(1);
    for (int y = 0; y < src.height; ++y) unpack.expand(imaging::bufferRow(src, y), src.width, imaging::bufferRow(dst, y));
    dst.palette = imaging::fullPalette(src.palette, 8);
    dst.xPelsPerMeter = src.xPelsPerMeter;
    dst.yPelsPerMeter = src.yPelsPerMeter;
    dst.icc = src.icc;
    return IMG_OK;
}
