// RLE8 and RLE4 streams. Pixels the stream never sets keep index 0.
#include "bmp_decode.h"

#include <algorithm>
#include <cstring>

namespace imaging {
namespace {

// Runs are written eight bytes at a time, past their end: the few bytes
// beyond the drawing position may hold leftovers, which a move clears.
constexpr int kSlack = static_cast<int>(kRleSlack);

// The row the stream is drawing, as one index per byte; finished rows go to
// the buffer at its own depth, bottom row first, as the stream runs.
class RowSink {
public:
    RowSink(ImageData& image, const std::vector<RGBQUAD>& palette256)
        : image_(image), out_(image, palette256), indices_(static_cast<std::size_t>(image.width) + 2 * kSlack) {}

    std::uint8_t* row() { return indices_.data(); }

    // Leaves drawing position x for row y (counted from the bottom): rows
    // the stream leaves go to the buffer, and rows it skips go over as index 0.
    void leave(int x, int y) {
        std::fill_n(indices_.begin() + x, kSlack, std::uint8_t{0});
        for (; y_ < y && y_ < image_.height; ++y_) {
            out_.write(image_.pixels.get() + static_cast<std::size_t>(y_) * image_.stride, indices_.data());
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

// `count` copies of the 8-byte pattern's bytes, rounded up to whole patterns.
inline void fillRun(std::uint8_t* out, unsigned count, std::uint64_t pattern) {
    for (unsigned i = 0; i < count; i += 8) std::memcpy(out + i, &pattern, 8);
}

}  // namespace

int decodeRle(const DecodeJob& job) {
    const BmpFormat& f = job.format;
    const bool four = f.coding == PixelCoding::Rle4;
    const std::uint8_t* data = job.pixels.data();  // readable kSlack bytes past the end
    const std::uint64_t end = job.pixels.size();
    std::uint64_t p = 0;
    RowSink sink(job.image, job.palette256);

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
        if (count > 0) {
            if (y >= f.height || x + static_cast<int>(count) > f.width) return IMG_ERR_CORRUPT;
            const std::uint64_t pair = four ? (code >> 4) | (code & 15u) << 8 : code * 0x0101u;
            fillRun(sink.row() + x, count, pair * 0x0001000100010001ull);
            x += static_cast<int>(count);
            continue;
        }
        switch (code) {
        case 0:  // end of line
            sink.leave(x, y + 1);
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            sink.finish(x);
            return IMG_OK;
        case 2: {  // delta: move right and up
            if (end - p < 2) return IMG_ERR_TRUNCATED;
            const int toX = x + data[p];
            const int toY = y + data[p + 1];
            p += 2;
            if (toX > f.width || toY > f.height) return IMG_ERR_CORRUPT;
            sink.leave(x, toY);
            x = toX;
            y = toY;
            break;
        }
        default: {  // absolute run of `code` indices, padded to a 16-bit boundary
            const std::uint64_t bytes = four ? (code + 1) / 2 : code;
            const std::uint64_t padded = (bytes + 1) & ~std::uint64_t{1};
            if (end - p < bytes) return IMG_ERR_TRUNCATED;
            if (y >= f.height || x + static_cast<int>(code) > f.width) return IMG_ERR_CORRUPT;
            std::uint8_t* out = sink.row() + x;
            if (four) {
                for (unsigned i = 0; i < code; ++i) out[i] = (data[p + i / 2] >> ((i & 1) ? 0 : 4)) & 15u;
            } else {
                for (unsigned i = 0; i < code; i += 8) std::memcpy(out + i, data + p + i, 8);
            }
            x += static_cast<int>(code);
            p += std::min(padded, end - p);
            break;
        }
        }
    }
}

}  // namespace imaging
