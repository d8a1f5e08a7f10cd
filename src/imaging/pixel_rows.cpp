#include "pixel_rows.h"

#include "fast_paths.h"
#include "index_rows.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace imaging {
namespace {

// round(v * 255 / max): a channel of any width scaled exactly to 8 bits.
constexpr std::uint32_t to8(std::uint32_t v, std::uint32_t max) {
    return static_cast<std::uint32_t>((std::uint64_t{v} * 255 + max / 2) / max);
}

constexpr std::uint32_t overWhite(std::uint32_t colour, std::uint32_t alpha) {
    return (colour * alpha + 255 * (255 - alpha) + 127) / 255;
}

constexpr std::uint32_t bgrx(std::uint32_t b, std::uint32_t g, std::uint32_t r) { return b | g << 8 | r << 16; }

inline std::uint32_t load16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] | p[1] << 8); }
inline void store32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// round(v * 255 / 31) and round(v * 255 / 63) as a multiply and a shift,
// which the compiler can vectorise where it cannot a division.
constexpr std::uint32_t from5(std::uint32_t v) { return (v * 527 + 23) >> 6; }
constexpr std::uint32_t from6(std::uint32_t v) { return (v * 259 + 33) >> 6; }
constexpr bool exactFor(std::uint32_t (*f)(std::uint32_t), std::uint32_t max) {
    for (std::uint32_t v = 0; v <= max; ++v)
        if (f(v) != to8(v, max)) return false;
    return true;
}
static_assert(exactFor(from5, 31) && exactFor(from6, 63));

// 5-5-5 and 5-6-5 pixels, the usual 16-bit kinds. Every step fits 16 bits,
// so the vectorised loop works on eight (or sixteen) pixels at a time.
template <unsigned GreenBits>
inline void decode16(const std::uint8_t* in, int width, std::uint8_t* out) {
    for (int x = 0; x < width; ++x) {
        std::uint16_t p;
        std::memcpy(&p, in + 2 * x, 2);
        const auto b = static_cast<std::uint16_t>(from5(p & 31u));
        const auto g = static_cast<std::uint16_t>(GreenBits == 5 ? from5((p >> 5) & 31u) : from6((p >> 5) & 63u));
        const auto r = static_cast<std::uint16_t>(from5((p >> (5 + GreenBits)) & 31u));
        const auto bg = static_cast<std::uint16_t>(b | g << 8);
        std::memcpy(out + 4 * x, &bg, 2);
        std::memcpy(out + 4 * x + 2, &r, 2);
    }
}

using Decode16 = void (*)(const std::uint8_t*, int, std::uint8_t*);

template <unsigned GreenBits>
void decode16Plain(const std::uint8_t* in, int width, std::uint8_t* out) { decode16<GreenBits>(in, width, out); }

#ifdef IMAGING_X86_LEVELS
template <unsigned GreenBits>
__attribute__((target("avx2"))) void decode16Avx2(const std::uint8_t* in, int width, std::uint8_t* out) {
    decode16<GreenBits>(in, width, out);
}
#endif

template <unsigned GreenBits>
Decode16 decode16For(Level level) {
#ifdef IMAGING_X86_LEVELS
    if (level >= Level::Avx2) return decode16Avx2<GreenBits>;
#endif
    (void)level;
    return decode16Plain<GreenBits>;
}

constexpr int kOne = 8192;  // 1.0 in the 64-bit format's fixed point

// Linear light to sRGB levels, for every fixed-point value from 0 to 1.
const std::vector<std::uint8_t>& toSrgb() {
    static const std::vector<std::uint8_t> table = [] {
        std::vector<std::uint8_t> t(kOne + 1);
        for (int i = 0; i <= kOne; ++i) {
            const double l = static_cast<double>(i) / kOne;
            const double s = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
            t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::lround(s * 255));
        }
        return t;
    }();
    return table;
}

inline std::uint32_t clampFixed(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(std::clamp<int>(static_cast<std::int16_t>(load16(p)), 0, kOne));
}

// 64-bit pixels: each colour encoded to sRGB first, then composited onto
// white exactly as 32-bit pixels are, as viewers flatten images.
void decode64(const std::uint8_t* in, int width, bool composite, std::uint8_t* out) {
    const std::uint8_t* srgb = toSrgb().data();
    for (int x = 0; x < width; ++x, in += 8, out += 4) {
        std::uint32_t b = srgb[clampFixed(in)], g = srgb[clampFixed(in + 2)], r = srgb[clampFixed(in + 4)];
        if (composite) {
            const std::uint32_t a = (clampFixed(in + 6) * 255 + kOne / 2) / kOne;
            b = overWhite(b, a), g = overWhite(g, a), r = overWhite(r, a);
        }
        store32(out, bgrx(b, g, r));
    }
}

}  // namespace

MaskDecoder::MaskDecoder(const BmpFormat& f, bool composite)
    : bytes_(f.bitCount / 8), composite_(composite), masks_(f.masks) {
    if (f.coding == PixelCoding::Rgba64) {
        kind_ = Kind::Rgba64;
        return;
    }
    const std::uint32_t r = masks_[0].mask, g = masks_[1].mask, b = masks_[2].mask;
    if (!composite && bytes_ == 4 && r == 0xFF0000 && g == 0xFF00 && b == 0xFF) {
        kind_ = Kind::Bgrx;
        return;
    }
    if (!composite && bytes_ == 2 && b == 0x001F && (r == 0x7C00 && g == 0x03E0)) {
        kind_ = Kind::Rgb555;
        decode16_ = decode16For<5>(fastPaths().level);
        return;
    }
    if (!composite && bytes_ == 2 && b == 0x001F && (r == 0xF800 && g == 0x07E0)) {
        kind_ = Kind::Rgb565;
        decode16_ = decode16For<6>(fastPaths().level);
        return;
    }
    for (std::size_t c = 0; c < 4; ++c) {
        if (masks_[c].max == 0 || masks_[c].max > 0xFFFF) continue;
        scale_[c].resize(masks_[c].max + 1);
        for (std::uint32_t v = 0; v <= masks_[c].max; ++v) scale_[c][v] = static_cast<std::uint8_t>(to8(v, masks_[c].max));
    }
    // Every 16-bit value maps to one colour: past a screenful of pixels, a table beats scaling each.
    if (bytes_ == 2 && static_cast<std::uint64_t>(f.width) * static_cast<std::uint64_t>(f.height) > 65536) {
        table_.resize(65536);
        for (std::uint32_t px = 0; px < 65536; ++px) table_[px] = maskPixel(px);
        kind_ = Kind::Table16;
    }
}

std::uint32_t MaskDecoder::maskPixel(std::uint32_t px) const {
    std::uint32_t v[4];
    for (std::size_t c = 0; c < 4; ++c) {
        const ChannelMask& m = masks_[c];
        const std::uint32_t raw = (px & m.mask) >> m.shift;
        v[c] = m.max == 0 ? 0 : !scale_[c].empty() ? scale_[c][raw] : to8(raw, m.max);
    }
    if (composite_) {
        for (std::size_t c = 0; c < 3; ++c) v[c] = overWhite(v[c], v[3]);
    }
    return bgrx(v[2], v[1], v[0]);
}

void MaskDecoder::decode(const std::uint8_t* in, int width, std::uint8_t* out) const {
    switch (kind_) {
    case Kind::Bgrx:
        std::memcpy(out, in, static_cast<std::size_t>(width) * 4);
        return;
    case Kind::Rgb555:
    case Kind::Rgb565:
        decode16_(in, width, out);
        return;
    case Kind::Table16:
        for (int x = 0; x < width; ++x) store32(out + 4 * x, table_[load16(in + 2 * x)]);
        return;
    case Kind::Rgba64:
        decode64(in, width, composite_, out);
        return;
    case Kind::Masks:
        for (int x = 0; x < width; ++x, in += bytes_)
            store32(out + 4 * x, maskPixel(bytes_ == 2 ? load16(in) : readU32(in)));
        return;
    }
}

bool anyAlpha(const BmpFormat& f, const std::uint8_t* pixels) {
    const int bytes = f.bitCount / 8;
    for (int y = 0; y < f.height; ++y) {
        const std::uint8_t* p = pixels + static_cast<std::size_t>(y) * f.fileStride;
        for (int x = 0; x < f.width; ++x, p += bytes) {
            if (f.coding == PixelCoding::Rgba64) {
                if (load16(p + 6) != 0) return true;
            } else if ((bytes == 2 ? load16(p) : readU32(p)) & f.masks[3].mask) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace imaging
