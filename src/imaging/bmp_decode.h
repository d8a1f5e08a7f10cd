// Pixel decoders, one per family of bitmap codings.
#pragma once

#include "bmp_format.h"
#include "internal.h"

#include <span>

namespace imaging {

// Everything a decoder needs: the file, its format, its palette as a full
// 256-entry table (missing entries black), and the buffer to fill.
struct DecodeJob {
    std::span<const std::uint8_t> file;
    const BmpFormat& format;
    const std::vector<RGBQUAD>& palette256;
    ImageData& image;
};

int decodeRle(const DecodeJob& job);
int decodeMasks(const DecodeJob& job);
int decodeRgba64(const DecodeJob& job);

// The file's row for image row y (0 = top).
inline const std::uint8_t* fileRow(const DecodeJob& job, int y) {
    const BmpFormat& f = job.format;
    const std::uint64_t r = f.topDown ? static_cast<std::uint64_t>(y) : static_cast<std::uint64_t>(f.height - 1 - y);
    return job.file.data() + f.pixelOffset + r * f.fileStride;
}

// Writes palette colour `entry` as B, G, R.
inline void putColour(std::uint8_t* out, const RGBQUAD& entry) {
    out[0] = entry.rgbBlue;
    out[1] = entry.rgbGreen;
    out[2] = entry.rgbRed;
}

}  // namespace imaging
