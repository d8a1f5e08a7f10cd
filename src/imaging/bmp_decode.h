// What loadbmp's decoders share.
#pragma once

#include "bmp_format.h"
#include "index_rows.h"
#include "internal.h"

#include <span>

namespace imaging {

// Everything a decoder needs: the file's pixel data as read, its format, its
// palette as a full 256-entry table (missing entries black), and the buffer.
struct DecodeJob {
    std::span<const std::uint8_t> pixels;  // the rows, top row first, or the RLE stream
    const BmpFormat& format;
    const std::vector<RGBQUAD>& palette256;
    ImageData& image;
};

// An RLE stream's bytes must stay readable kRleSlack bytes past its end.
constexpr std::size_t kRleSlack = 32;
int decodeRle(const DecodeJob& job);

// The file's row for image row y (0 = top); uncompressed rows are read top row first.
inline const std::uint8_t* fileRow(const DecodeJob& job, int y) {
    return job.pixels.data() + static_cast<std::uint64_t>(y) * job.format.fileStride;
}

// Writes rows of one index per byte into a buffer at its own depth: packed,
// or through the palette for a 24-bit buffer.
class IndexRowWriter {
public:
    IndexRowWriter(const ImageData& image, const std::vector<RGBQUAD>& palette256)
        : width_(image.width), depth_(image.depth),
          colours_(8, image.depth == 24 ? paletteElements(palette256, 3) : std::vector<std::uint8_t>{}, 3) {}
    void write(std::uint8_t* bufferRow, const std::uint8_t* indices) const {
        if (depth_ == 24)
            colours_.expand(indices, width_, bufferRow);
        else
            packIndices(indices, depth_, width_, bufferRow);
    }

private:
    int width_;
    int depth_;
    IndexExpander colours_;
};

}  // namespace imaging
