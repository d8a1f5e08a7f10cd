// Image descriptors: allocation, sharing, release, and 1-bit widening.
#include "errors.h"
#include "image_data.h"
#include "pixel_memory.h"
#include "testing_hooks.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <sys/mman.h>
#include <unistd.h>

using imaging::ImageAccess;
using imaging::ImageData;
using imaging::isIndexedDepth;

namespace {
std::atomic<unsigned long long> g_memoryLimit{0};
}  // namespace

void imaging_set_memory_limit(unsigned long long bytes) { g_memoryLimit = bytes; }

std::uint64_t imaging::memoryLimit() {
    // Half the machine leaves room for everything else it runs; a picture
    // asking for more is refused instead of getting the process killed.
    static const std::uint64_t machine = [] {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        if (pages <= 0 || pageSize <= 0) return std::uint64_t{1} << 31;  // unknown: a modest machine's
        return static_cast<std::uint64_t>(pages) / 2 * static_cast<std::uint64_t>(pageSize);
    }();
    const unsigned long long set = g_memoryLimit;
    // Never more than the address space holds, so that every size fits size_t.
    return std::min<std::uint64_t>(set != 0 ? set : machine, SIZE_MAX / 2);
}

int ImageDescriptor::width() const { return d_ ? d_->width : 0; }
int ImageDescriptor::height() const { return d_ ? d_->height : 0; }
int ImageDescriptor::depth() const { return d_ ? d_->depth : 0; }
std::int32_t ImageDescriptor::xPelsPerMeter() const { return d_ ? d_->xPelsPerMeter : 0; }
std::int32_t ImageDescriptor::yPelsPerMeter() const { return d_ ? d_->yPelsPerMeter : 0; }

std::span<const RGBQUAD> ImageDescriptor::palette() const {
    if (!d_) return {};
    return d_->palette;
}

namespace imaging {

std::vector<RGBQUAD> fullPalette(std::span<const RGBQUAD> colours, int depth) {
    std::vector<RGBQUAD> palette(std::size_t{1} << depth, RGBQUAD{0, 0, 0, 0});
    std::copy_n(colours.begin(), std::min(colours.size(), palette.size()), palette.begin());
    return palette;
}

}  // namespace imaging

int allocimage(ImageDescriptor* image, int width, int height, int bppixel) {
    imaging::noteBytesNeeded(0);
    if (image == nullptr) return IMG_ERR_BAD_IMAGE;
    if (width <= 0 || height <= 0 || !imaging::isSupportedDepth(bppixel)) return IMG_ERR_BAD_IMAGE;
    // No JPEG could carry it: refused before any memory is taken.
    if (width > IMG_JPEG_MAX_SIDE || height > IMG_JPEG_MAX_SIDE) return IMG_ERR_TOO_LARGE;
    // At most 196,500 bytes a row and 65,500 rows: 64 bits hold every size.
    const std::uint64_t stride = imaging::paddedStride(static_cast<std::uint64_t>(width), static_cast<unsigned>(bppixel));
    const std::uint64_t bytes = stride * static_cast<std::uint64_t>(height);
    const auto refuse = [bytes] { return imaging::noteBytesNeeded(bytes), IMG_ERR_NO_MEMORY; };
    if (bytes > imaging::memoryLimit()) return refuse();

    imaging::PixelMemory memory = imaging::pixelMemory(static_cast<std::size_t>(bytes));
    if (!memory.bytes) return refuse();

    auto made = std::make_shared<ImageData>();
    ImageData& d = *made;
    d.pixels = std::move(memory.bytes);
    // A recycled buffer is never cleared: a load fills it, and until then its picture is all zeros.
    if (memory.fresh)
        d.contents = imaging::contents::Untouched{};
    else
        d.contents = imaging::contents::Junk{};
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
    ImageAccess::handle(*image) = std::move(made);
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

    // savejpg reads the packed rows: a quarter of a megabyte in place of two for a screenful.
    const std::size_t size = src.stride * static_cast<std::size_t>(src.height);
    imaging::PixelMemory copy = imaging::pixelMemory(size);
    if (!copy.bytes) return IMG_ERR_NO_MEMORY;
    if (std::holds_alternative<imaging::contents::Junk>(src.contents))
        std::fill_n(copy.bytes.get(), size, std::uint8_t{0});
    else
        std::copy_n(src.pixels.get(), size, copy.bytes.get());
    dst.contents = imaging::contents::Packed{
        std::make_shared<const imaging::PackedRows>(imaging::PackedRows{std::move(copy.bytes), src.stride, 1})};
    dst.palette = imaging::fullPalette(src.palette, 8);
    dst.xPelsPerMeter = src.xPelsPerMeter;
    dst.yPelsPerMeter = src.yPelsPerMeter;
    dst.icc = src.icc;
    return IMG_OK;
}
