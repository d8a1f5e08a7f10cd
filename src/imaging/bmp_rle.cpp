// RLE8 and RLE4 streams. Pixels the stream never sets keep index 0.
#include "bmp_decode.h"

#include <algorithm>

namespace imaging {
namespace {

// Puts indices into the buffer at its own depth: packed indices, or colours
// for a 24-bit buffer. y counts from the bottom, as the stream does.
class Sink {
public:
    Sink(ImageData& image, const std::vector<RGBQUAD>& palette) : image_(image), palette_(palette) {}

    void put(int x, int yFromBottom, unsigned index) {
        std::uint8_t* row = image_.pixels.get() + static_cast<std::size_t>(yFromBottom) * image_.stride;
        if (image_.depth == 24)
            putColour(row + 3 * static_cast<std::size_t>(x), palette_[index]);
        else
            setIndex(row, x, image_.depth, index);
    }

    void run8(int x, int y, int count, unsigned index) {
        if (image_.depth == 8) {
            std::fill_n(image_.pixels.get() + static_cast<std::size_t>(y) * image_.stride + x, count,
                        static_cast<std::uint8_t>(index));
            return;
        }
        for (int i = 0; i < count; ++i) put(x + i, y, index);
    }

    // Index 0 everywhere before the stream draws.
    void clear() {
        const std::size_t bytes = image_.stride * static_cast<std::size_t>(image_.height);
        if (image_.depth != 24 || (palette_[0].rgbBlue | palette_[0].rgbGreen | palette_[0].rgbRed) == 0) {
            std::fill_n(image_.pixels.get(), bytes, std::uint8_t{0});
            return;
        }
        for (int y = 0; y < image_.height; ++y)
            for (int x = 0; x < image_.width; ++x) put(x, y, 0);
    }

private:
    ImageData& image_;
    const std::vector<RGBQUAD>& palette_;
};

}  // namespace

int decodeRle(const DecodeJob& job) {
    const BmpFormat& f = job.format;
    const bool four = f.coding == PixelCoding::Rle4;
    const std::uint8_t* data = job.file.data();
    const std::uint64_t end = job.file.size();
    std::uint64_t p = f.pixelOffset;
    Sink sink(job.image, job.palette256);
    sink.clear();

    int x = 0;
    int y = 0;  // from the bottom
    for (;;) {
        if (end - p < 2) {
            // A stream without its end marker is complete only if every row was drawn.
            const bool complete = y >= f.height || (y == f.height - 1 && x == f.width);
            return complete ? IMG_OK : IMG_ERR_TRUNCATED;
        }
        const unsigned count = data[p];
        const unsigned code = data[p + 1];
        p += 2;
        if (count > 0) {
            if (y >= f.height || x + static_cast<int>(count) > f.width) return IMG_ERR_CORRUPT;
            if (four) {
                const unsigned pair[2] = {code >> 4, code & 15u};
                for (unsigned i = 0; i < count; ++i) sink.put(x + static_cast<int>(i), y, pair[i & 1]);
            } else {
                sink.run8(x, y, static_cast<int>(count), code);
            }
            x += static_cast<int>(count);
            continue;
        }
        switch (code) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            return IMG_OK;
        case 2: {  // delta: move right and up
            if (end - p < 2) return IMG_ERR_TRUNCATED;
            x += data[p];
            y += data[p + 1];
            p += 2;
            if (x > f.width || y > f.height) return IMG_ERR_CORRUPT;
            break;
        }
        default: {  // absolute run of `code` indices, padded to a 16-bit boundary
            const std::uint64_t bytes = four ? (code + 1) / 2 : code;
            const std::uint64_t padded = (bytes + 1) & ~std::uint64_t{1};
            if (end - p < bytes) return IMG_ERR_TRUNCATED;
            if (y >= f.height || x + static_cast<int>(code) > f.width) return IMG_ERR_CORRUPT;
            for (unsigned i = 0; i < code; ++i) {
                const unsigned index = four ? (data[p + i / 2] >> ((i & 1) ? 0 : 4)) & 15u : data[p + i];
                sink.put(x + static_cast<int>(i), y, index);
            }
            x += static_cast<int>(code);
            p += std::min(padded, end - p);
            break;
        }
        }
    }
}

}  // namespace imaging
