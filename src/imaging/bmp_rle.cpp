// RLE8 and RLE4 streams. Pixels the stream never sets keep index 0.
#include "bmp_decode.h"

#include <algorithm>

namespace imaging {
namespace {

// The row the stream is drawing, as one index per byte; finished rows go to
// the buffer at its own depth, bottom row first, as the stream runs.
class RowSink {
public:
    RowSink(ImageData& image, const std::vector<RGBQUAD>& palette256)
        : image_(image), out_(image, palette256), indices_(static_cast<std::size_t>(image.width)) {}

    std::uint8_t* row() { return indices_.data(); }

    // Hands over the rows below `y` (counted from the bottom); rows the stream
    // skipped go over as index 0.
    void advanceTo(int y) {
        for (; y_ < y && y_ < image_.height; ++y_) {
            out_.write(image_.pixels.get() + static_cast<std::size_t>(y_) * image_.stride, indices_.data());
            std::fill(indices_.begin(), indices_.end(), std::uint8_t{0});
        }
    }
    void finish() { advanceTo(image_.height); }

private:
    ImageData& image_;
    IndexRowWriter out_;
    std::vector<std::uint8_t> indices_;
    int y_ = 0;
};

}  // namespace

int decodeRle(const DecodeJob& job) {
    const BmpFormat& f = job.format;
    const bool four = f.coding == PixelCoding::Rle4;
    const std::uint8_t* data = job.file.data();
    const std::uint64_t end = job.file.size();
    std::uint64_t p = f.pixelOffset;
    RowSink sink(job.image, job.palette256);

    int x = 0;
    int y = 0;  // from the bottom
    for (;;) {
        if (end - p < 2) {
            // A stream without its end marker is complete only if every row was drawn.
            const bool complete = y >= f.height || (y == f.height - 1 && x == f.width);
            if (!complete) return IMG_ERR_TRUNCATED;
            sink.finish();
            return IMG_OK;
        }
        const unsigned count = data[p];
        const unsigned code = data[p + 1];
        p += 2;
        if (count > 0) {
            if (y >= f.height || x + static_cast<int>(count) > f.width) return IMG_ERR_CORRUPT;
            std::uint8_t* out = sink.row() + x;
            if (four) {
                const std::uint8_t pair[2] = {static_cast<std::uint8_t>(code >> 4), static_cast<std::uint8_t>(code & 15u)};
                for (unsigned i = 0; i < count; ++i) out[i] = pair[i & 1];
            } else {
                std::fill_n(out, count, static_cast<std::uint8_t>(code));
            }
            x += static_cast<int>(count);
            continue;
        }
        switch (code) {
        case 0:  // end of line
            x = 0;
            sink.advanceTo(++y);
            break;
        case 1:  // end of bitmap
            sink.finish();
            return IMG_OK;
        case 2: {  // delta: move right and up
            if (end - p < 2) return IMG_ERR_TRUNCATED;
            x += data[p];
            y += data[p + 1];
            p += 2;
            if (x > f.width || y > f.height) return IMG_ERR_CORRUPT;
            sink.advanceTo(y);
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
                std::copy_n(data + p, code, out);
            }
            x += static_cast<int>(code);
            p += std::min(padded, end - p);
            break;
        }
        }
    }
}

}  // namespace imaging
