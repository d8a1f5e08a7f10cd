// What loadbmp's decoders share.
#pragma once

#include "bmp_format.h"
#include "index_rows.h"
#include "errors.h"
#include "image_data.h"
#include "pixel_memory.h"

#include <span>

namespace imaging {

// Everything a decoder of uncompressed rows needs: the file's rows as read,
// its format, its palette as a full 256-entry table (missing entries black),
// and the buffer.
struct DecodeJob {
    std::span<const std::uint8_t> pixels;  // the rows, top row first
    const BmpFormat& format;
    const std::vector<RGBQUAD>& palette256;
    ImageData& image;
};

class SourceFile;

// RLE8 and RLE4 streams are read from the file a window at a time, as far
// as the picture needs and never past rleStreamLimit bytes: a short stream
// followed by gigabytes costs neither their memory nor their reading.
std::uint64_t rleStreamLimit(const BmpFormat& f);
// What decoding holds beside the buffer.
std::uint64_t rleWorkingBytes(const SourceFile& file, const BmpFormat& f);
int decodeRle(const SourceFile& file, const BmpFormat& f, const std::vector<RGBQUAD>& palette256, ImageData& image);

// OS/2 Huffman 1D rows into an indexed or 24-bit buffer.
std::uint64_t huffmanWorkingBytes(const SourceFile& file, const BmpFormat& f);
int decodeHuffman(const SourceFile& file, const BmpFormat& f, const std::vector<RGBQUAD>& palette256, ImageData& image);

// An embedded JPEG or PNG, decoded whole into a 24-bit buffer.
std::uint64_t embeddedWorkingBytes(const BmpFormat& f);
int decodeEmbedded(const SourceFile& file, const BmpFormat& f, ImageData& image);

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
