// 16-, 32- and 64-bit pixels into 24-bit B, G, R, with alpha composited onto white.
#include "bmp_decode.h"

#include <algorithm>
#include <cmath>

namespace imaging {
namespace {

// Scales a masked channel to 8 bits exactly: round(v * 255 / max).
class ChannelScaler {
public:
    explicit ChannelScaler(const ChannelMask& c) : c_(c) {
        if (c_.max != 0 && c_.max <= 0xFFFF) {
            lut_.resize(c_.max + 1);
            for (std::uint32_t v = 0; v <= c_.max; ++v) lut_[v] = scale(v);
        }
    }
    std::uint8_t operator()(std::uint32_t pixel) const {
        if (c_.max == 0) return 0;
        const std::uint32_t v = (pixel & c_.mask) >> c_.shift;
        return lut_.empty() ? scale(v) : lut_[v];
    }

private:
    std::uint8_t scale(std::uint32_t v) const {
        return static_cast<std::uint8_t>((std::uint64_t{v} * 255 + c_.max / 2) / c_.max);
    }
    ChannelMask c_;
    std::vector<std::uint8_t> lut_;
};

constexpr int kOne = 8192;  // 1.0 in the 64-bit format's fixed point

inline std::uint8_t overWhite(unsigned colour, unsigned alpha) {
    return static_cast<std::uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

std::uint32_t readPixel(const std::uint8_t* p, int bytes) { return bytes == 2 ? readU16(p) : readU32(p); }

// Real alpha needs at least one pixel that is not fully transparent; an
// all-zero channel is a writer that never filled it in.
bool anyAlpha(const DecodeJob& job, int bytes, std::uint32_t mask) {
    const BmpFormat& f = job.format;
    for (int y = 0; y < f.height; ++y) {
        const std::uint8_t* src = fileRow(job, y);
        for (int x = 0; x < f.width; ++x)
            if (readPixel(src + static_cast<std::size_t>(x) * bytes, bytes) & mask) return true;
    }
    return false;
}

}  // namespace

int decodeMasks(const DecodeJob& job) {
    const BmpFormat& f = job.format;
    const int bytes = f.bitCount / 8;
    const bool composite = f.alphaMask && anyAlpha(job, bytes, f.masks[3].mask);
    const ChannelScaler red(f.masks[0]), green(f.masks[1]), blue(f.masks[2]), alpha(f.masks[3]);
    auto colour = [&](std::uint32_t px, std::uint8_t* out) {
        if (composite) {
            const unsigned a = alpha(px);
            out[0] = overWhite(blue(px), a);
            out[1] = overWhite(green(px), a);
            out[2] = overWhite(red(px), a);
        } else {
            out[0] = blue(px);
            out[1] = green(px);
            out[2] = red(px);
        }
    };

    if (bytes == 4 && f.masks[0].mask == 0xFF0000 && f.masks[1].mask == 0xFF00 && f.masks[2].mask == 0xFF && !composite) {
        // The common B, G, R, X layout is a plain copy.
        for (int y = 0; y < f.height; ++y) {
            const std::uint8_t* src = fileRow(job, y);
            std::uint8_t* out = bufferRow(job.image, y);
            for (int x = 0; x < f.width; ++x, src += 4, out += 3) out[0] = src[0], out[1] = src[1], out[2] = src[2];
        }
        return IMG_OK;
    }
    if (bytes == 2 && static_cast<std::uint64_t>(f.width) * static_cast<std::uint64_t>(f.height) > 65536) {
        // Every 16-bit value maps to one colour: a table beats per-pixel scaling.
        std::vector<std::uint8_t> table(3 * 65536);
        for (std::uint32_t px = 0; px < 65536; ++px) colour(px, &table[3 * px]);
        for (int y = 0; y < f.height; ++y) {
            const std::uint8_t* src = fileRow(job, y);
            std::uint8_t* out = bufferRow(job.image, y);
            for (int x = 0; x < f.width; ++x, src += 2, out += 3) {
                const std::uint8_t* c = &table[3 * static_cast<std::size_t>(readU16(src))];
                out[0] = c[0], out[1] = c[1], out[2] = c[2];
            }
        }
        return IMG_OK;
    }
    for (int y = 0; y < f.height; ++y) {
        const std::uint8_t* src = fileRow(job, y);
        std::uint8_t* out = bufferRow(job.image, y);
        for (int x = 0; x < f.width; ++x, src += bytes, out += 3) colour(readPixel(src, bytes), out);
    }
    return IMG_OK;
}

// 64-bit pixels are B, G, R, A as signed 16-bit fixed point with 13 fraction
// bits (8192 = 1.0) in linear light; they are encoded to sRGB for the JPEG.
int decodeRgba64(const DecodeJob& job) {
    static const std::vector<std::uint8_t> toSrgb = [] {
        std::vector<std::uint8_t> t(kOne + 1);
        for (int i = 0; i <= kOne; ++i) {
            const double l = static_cast<double>(i) / kOne;
            const double s = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
            t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::lround(s * 255));
        }
        return t;
    }();
    auto clampFixed = [](const std::uint8_t* p) {
        return std::clamp<int>(static_cast<std::int16_t>(readU16(p)), 0, kOne);
    };

    const BmpFormat& f = job.format;
    bool composite = false;
    for (int y = 0; y < f.height && !composite; ++y) {
        const std::uint8_t* src = fileRow(job, y);
        for (int x = 0; x < f.width && !composite; ++x) composite = readU16(src + 8 * x + 6) != 0;
    }
    for (int y = 0; y < f.height; ++y) {
        const std::uint8_t* src = fileRow(job, y);
        std::uint8_t* out = bufferRow(job.image, y);
        for (int x = 0; x < f.width; ++x, src += 8, out += 3) {
            const int a = composite ? clampFixed(src + 6) : kOne;
            for (int c = 0; c < 3; ++c) {
                // Over white in linear light, then encoded.
                const int lin = (clampFixed(src + 2 * c) * a + kOne * (kOne - a) + kOne / 2) / kOne;
                out[c] = toSrgb[static_cast<std::size_t>(lin)];
            }
        }
    }
    return IMG_OK;
}

}  // namespace imaging
