// Palette indices straight to Y, Cb and Cr: a colour converter of ours in
// place of libjpeg's, one look-up for what would be a look-up into B, G, R
// and libjpeg's own conversion of that.
#pragma once

#include "jpeg_rows.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace imaging {

// Rows of palette indices wherever they are: the buffer, or packed rows
// kept for a widened picture.
struct IndexRows {
    const std::uint8_t* base;
    std::size_t stride;
    int depth;
    int width;
    const std::uint8_t* row(int y) const { return base + static_cast<std::size_t>(y) * stride; }
};

// The rows as they are, for a converter that gives each index the Y, Cb and
// Cr libjpeg's own converter makes of its palette entry, so the JPEG's bytes
// are those of B, G, R, X rows. Null where it does not pay or cannot work
// for the JPEG `options` ask (fast_paths' ownConverterFor) or libjpeg's
// converter cannot be replaced.
std::unique_ptr<RowSource> convertedIndexRows(const IndexRows& rows, std::span<const RGBQUAD> palette,
                                              const JpegOptions& options);

}  // namespace imaging
