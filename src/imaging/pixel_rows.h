// 16-, 32- and 64-bit pixels stay as the file stores them once loadbmp has
// read them, and become B, G, R, X rows only where rows are used: in the JPEG
// writer's row loop, while they are hot in the cache, or in the buffer when
// a caller asks for its rows.
#pragma once

#include "bmp_format.h"
#include "bytes.h"
#include "image_data.h"

#include <array>
#include <vector>

namespace imaging {

// Turns one file row of 16-, 32- or 64-bit pixels into B, G, R, X, with
// alpha composited onto white when `composite` is set.
class MaskDecoder {
public:
    MaskDecoder(const BmpFormat& f, bool composite);
    // Plain 32-bit rows are B, G, R, X already: libjpeg takes them as they are.
    bool passthrough() const { return kind_ == Kind::Bgrx; }
    void decode(const std::uint8_t* in, int width, std::uint8_t* bgrx) const;

private:
    enum class Kind { Bgrx, Rgb555, Rgb565, Table16, Masks, Rgba64 };
    std::uint32_t maskPixel(std::uint32_t px) const;

    Kind kind_ = Kind::Masks;
    int bytes_ = 4;  // per pixel
    bool composite_ = false;
    std::array<ChannelMask, 4> masks_{};  // red, green, blue, alpha
    std::array<std::vector<std::uint8_t>, 4> scale_;  // channel value to 8 bits, for channels up to 16 bits wide
    std::vector<std::uint32_t> table_;  // every 16-bit pixel as B, G, R, X
    void (*decode16_)(const std::uint8_t*, int, std::uint8_t*) = nullptr;  // 5-5-5 or 5-6-5, at the level in force
};

// Real alpha needs at least one pixel with alpha bits set: an all-zero alpha
// channel is a writer that never filled it in.
bool anyAlpha(const BmpFormat& f, const std::uint8_t* pixels);

// The file's pixel rows as read, top row first, and how they decode.
struct FileRows {
    std::shared_ptr<std::uint8_t> bytes;
    std::size_t stride;
    int height;
    int width;
    MaskDecoder decoder;

    // Image row y, counted from the top.
    const std::uint8_t* row(int y) const { return bytes.get() + static_cast<std::size_t>(y) * stride; }
};

}  // namespace imaging
