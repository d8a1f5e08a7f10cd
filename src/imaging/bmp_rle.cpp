// RLE8 and RLE4 streams. Pixels the stream never sets keep index 0.
#include "bmp_decode.h"

#include <algorithm>
#include <cstring>

namespace imaging {
namespace {

// Runs are written kRleSlack bytes at a time, past their end: the bytes just
// beyond the drawing position may hold leftovers, which leaving it clears.
constexpr unsigned kStep = static_cast<unsigned>(kRleSlack);

// The row the stream is drawing, as one index per byte; finished rows go to
// the buffer at its own depth, bottom row first, as the stream runs.
class RowSink {
public:
    RowSink(ImageData& image, const std::vector<RGBQUAD>& palette256)
        : image_(image), out_(image, palette256), indices_(static_cast<std::size_t>(image.width) + 2 * kStep) {}

    std::uint8_t* row() { return indices_.data(); }

    // Leaves drawing position x for row y (counted from the bottom): rows
    // the stream leaves go to the buffer, and rows it skips go over as index 0.
    void leave(int x, int y) {
        std::fill_n(indices_.begin() + x, kStep, std::uint8_t{0});
        for (; y_ < y && y_ < image_.height; ++y_) {
            out_.write(bufferRow(image_, image_.height - 1 - y_), indices_.data());
            std::fill(indices_.begin(), indices_.end(), std::uint8_t{0});
        }
    }
    void finish(int x) { leave(x, image_.height); }

private:
    ImageData& image_;
    IndexRowWriter out_;
    std::vector<std::uint8_t> indices_;
    int y_ = 0;
};

// Encoded runs and absolute runs alike copy whole steps from a source, a
// pattern or the stream, without a branch on which: in a photo they come
// mixed at random, and a mispredicted branch costs more than the copy.
template <bool Four>
int decode(const DecodeJob& job) {
    const BmpFormat& f = job.format;
    const std::uint8_t* data = job.pixels.data();  // readable kRleSlack bytes past the end
    const std::uint64_t end = job.pixels.size();
    std::uint64_t p = 0;
    RowSink sink(job.image, job.palette256);
    alignas(8) std::uint8_t pattern[kStep];

    int x = 0;
    int y = 0;  // from the bottom
    for (;;) {
        if (end - p < 2) {
            // A stream without its end marker is complete only if every row was drawn.
            const bool complete = y >= f.height || (y == f.height - 1 && x == f.width);
            if (!complete) return IMG_ERR_TRUNCATED;
            sink.finish(x);
            return IMG_OK;
        }
        const unsigned count = data[p];
        const unsigned code = data[p + 1];
        p += 2;
        if (count == 0 && code < 3) [[unlikely]] {
            if (code == 0) {  // end of line
                sink.leave(x, y + 1);
                x = 0;
                ++y;
                continue;
            }
            if (code == 1) {  // end of bitmap
                sink.finish(x);
                return IMG_OK;
            }
            // Delta: move right and up.
            if (end - p < 2) return IMG_ERR_TRUNCATED;
            const int toX = x + data[p];
            const int toY = y + data[p + 1];
            p += 2;
            if (toX > f.width || toY > f.height) return IMG_ERR_CORRUPT;
            sink.leave(x, toY);
            x = toX;
            y = toY;
            continue;
        }
        // An encoded run of `count` pixels, or an absolute run of `code`
        // indices padded to a 16-bit boundary.
        const bool encoded = count != 0;
        const unsigned pixels = encoded ? count : code;
        const std::uint64_t bytes = encoded ? 0 : Four ? (code + 1) / 2 : code;
        if (end - p < bytes) return IMG_ERR_TRUNCATED;
        if (y >= f.height || x + static_cast<int>(pixels) > f.width) return IMG_ERR_CORRUPT;
        std::uint8_t* out = sink.row() + x;
        if (Four && !encoded) {
            for (unsigned i = 0; i < code; ++i) out[i] = (data[p + i / 2] >> ((i & 1) ? 0 : 4)) & 15u;
        } else {
            const std::uint64_t pair = Four ? (code >> 4) | (code & 15u) << 8 : code * 0x0101u;
            const std::uint64_t eight = pair * 0x0001000100010001ull;
            for (unsigned i = 0; i < kStep; i += 8) std::memcpy(pattern + i, &eight, 8);
            const std::uint8_t* from = encoded ? pattern : data + p;
            const unsigned advance = encoded ? 0 : kStep;
            for (unsigned i = 0; i < pixels; i += kStep, from += advance) std::memcpy(out + i, from, kStep);
        }
        x += static_cast<int>(pixels);
        p += std::min((bytes + 1) & ~std::uint64_t{1}, end - p);
    }
}

}  // namespace

int decodeRle(const DecodeJob& job) {
    return job.format.coding == PixelCoding::Rle4 ? decode<true>(job) : decode<false>(job);
}

}  // namespace imaging
