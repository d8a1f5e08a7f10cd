#include "bmp_writer.h"

#include "file_util.h"

#include <bit>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace fixture {
namespace {

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::uint32_t headerSize(Header h) {
    switch (h) {
    case Header::Core: return 12;
    case Header::Os2: return 64;
    case Header::Info: return 40;
    case Header::V2: return 52;
    case Header::V3: return 56;
    case Header::V4: return 108;
    case Header::V5: return 124;
    }
    return 40;
}

std::array<std::uint32_t, 4> effectiveMasks(const Variant& v) {
    if (v.masks[0] | v.masks[1] | v.masks[2]) return v.masks;
    if (v.bits == 16) return {0x7C00, 0x03E0, 0x001F, v.masks[3]};
    return {0xFF0000, 0xFF00, 0xFF, v.masks[3]};
}

std::uint16_t linearFixed(double level) {
    const double s = level / 255.0;
    const double l = s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    return static_cast<std::uint16_t>(std::lround(l * 8192));
}

std::vector<std::uint8_t> packRow(const Variant& v, const Picture& p, int y) {
    const std::size_t stride = (static_cast<std::size_t>(p.width) * static_cast<unsigned>(v.bits) + 31) / 32 * 4;
    std::vector<std::uint8_t> row(stride, 0);
    const std::size_t base = static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width);
    for (int x = 0; x < p.width; ++x) {
        if (v.bits <= 8) {
            const unsigned perByte = 8u / static_cast<unsigned>(v.bits);
            const unsigned shift = 8 - static_cast<unsigned>(v.bits) * (1 + static_cast<unsigned>(x) % perByte);
            row[static_cast<std::size_t>(x) / perByte] |= static_cast<std::uint8_t>(p.indices[base + static_cast<std::size_t>(x)] << shift);
            continue;
        }
        const Rgba c = p.colours[base + static_cast<std::size_t>(x)];
        std::uint8_t* o = &row[static_cast<std::size_t>(x) * static_cast<unsigned>(v.bits) / 8];
        if (v.bits == 24) {
            o[0] = c.b, o[1] = c.g, o[2] = c.r;
        } else if (v.bits == 64) {
            const std::uint16_t f[4] = {linearFixed(c.b), linearFixed(c.g), linearFixed(c.r),
                                        static_cast<std::uint16_t>(std::lround(c.a * 8192.0 / 255))};
            for (int i = 0; i < 4; ++i) o[2 * i] = static_cast<std::uint8_t>(f[i]), o[2 * i + 1] = static_cast<std::uint8_t>(f[i] >> 8);
        } else {
            const auto m = effectiveMasks(v);
            std::uint32_t px = toChannel(c.r, m[0]) | toChannel(c.g, m[1]) | toChannel(c.b, m[2]) | toChannel(c.a, m[3]);
            if (v.bits == 32 && v.compression == BI_RGB && m[3] == 0) px |= std::uint32_t{v.filler} << 24;
            for (int i = 0; i < v.bits / 8; ++i) o[i] = static_cast<std::uint8_t>(px >> (8 * i));
        }
    }
    return row;
}

// Encoded runs for repeats, absolute runs for the rest; rows bottom-up.
// RLE8 and RLE4 runs are of indices, RLE24 runs of colours (B, G, R). With
// `intoPadding` each row is encoded as far as its padding, which holds zeros,
// as ImageMagick and GraphicsMagick write it.
std::vector<std::uint8_t> rleEncode(const Picture& p, int bits, bool intoPadding) {
    const auto stride = (static_cast<unsigned>(p.width) * static_cast<unsigned>(bits) + 31) / 32 * 4;
    const int padded = intoPadding ? static_cast<int>(stride * 8 / static_cast<unsigned>(bits)) : p.width;
    std::vector<std::uint8_t> out;
    const auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    const int size = bits == 24 ? 3 : 1;  // bytes a run's value takes
    for (int y = p.height - 1; y >= 0; --y) {
        std::vector<std::uint32_t> row(static_cast<std::size_t>(padded), 0);
        for (std::size_t x = 0, base = static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width); x < std::size_t(p.width); ++x) {
            const Rgba c = bits == 24 ? p.colours[base + x] : Rgba{};
            row[x] = bits == 24 ? std::uint32_t{c.b} | std::uint32_t{c.g} << 8 | std::uint32_t{c.r} << 16 : p.indices[base + x];
        }
        const auto pixel = [&](int x) { return row[static_cast<std::size_t>(x)]; };
        for (int x = 0; x < padded;) {
            int run = 1;
            while (x + run < padded && run < 255 && pixel(x + run) == pixel(x)) ++run;
            if (run >= 3) {
                put(static_cast<std::uint32_t>(run), 1);
                put(bits == 4 ? pixel(x) << 4 | pixel(x) : pixel(x), size);
                x += run;
                continue;
            }
            int lit = 1;
            while (x + lit < padded && lit < 254 &&
                   !(x + lit + 2 < padded && pixel(x + lit) == pixel(x + lit + 1) && pixel(x + lit) == pixel(x + lit + 2)))
                ++lit;
            if (lit < 3) {
                for (int i = 0; i < lit; ++i) put(1, 1), put(bits == 4 ? pixel(x + i) << 4 : pixel(x + i), size);
            } else {
                put(0, 1), put(static_cast<std::uint32_t>(lit), 1);
                const std::size_t start = out.size();
                for (int i = 0; i < lit; ++i) {
                    if (bits != 4) put(pixel(x + i), size);
                    else if (i % 2 == 0) put(pixel(x + i) << 4, 1);
                    else out.back() |= static_cast<std::uint8_t>(pixel(x + i));
                }
                if ((out.size() - start) % 2) out.push_back(0);
            }
            x += lit;
        }
        put(0, 1), put(y == 0 ? 1 : 0, 1);  // end of line, or of bitmap after the last
    }
    return out;
}

bool isRle24(const Variant& v) { return v.header == Header::Os2 && v.compression == kOs2Rle24; }
bool isHuffman1D(const Variant& v) { return v.header == Header::Os2 && v.compression == kOs2Huffman1D; }

}  // namespace

Variant indexedVariant(int bits, std::uint32_t compression, Header header, std::vector<RGBQUAD> palette) {
    Variant v;
    v.bits = bits;
    v.compression = compression;
    v.header = header;
    v.palette = std::move(palette);
    return v;
}

Variant maskVariant(int bits, std::uint32_t compression, Header header, std::array<std::uint32_t, 4> masks) {
    Variant v;
    v.bits = bits;
    v.compression = compression;
    v.header = header;
    v.masks = masks;
    return v;
}

std::uint32_t toChannel(std::uint8_t c, std::uint32_t mask) {
    if (mask == 0) return 0;
    const unsigned shift = static_cast<unsigned>(std::countr_zero(mask));
    const std::uint64_t max = mask >> shift;
    return static_cast<std::uint32_t>((c * max + 127) / 255) << shift;
}

std::vector<std::uint8_t> encodeRaw(const Variant& v, int width, int height, const std::vector<std::uint8_t>& pixelData) {
    const std::uint32_t hs = headerSize(v.header);
    const bool core = v.header == Header::Core;
    const std::uint32_t maskBytes =
        v.header == Header::Info ? (v.compression == BI_BITFIELDS ? 12 : v.compression == BI_ALPHABITFIELDS ? 16 : 0) : 0;
    const std::uint32_t paletteBytes = static_cast<std::uint32_t>(v.palette.size()) * (core ? 3 : 4);
    const std::uint32_t offBits = 14 + hs + maskBytes + paletteBytes;
    const std::uint32_t iccOffset = offBits + static_cast<std::uint32_t>(pixelData.size());
    const std::uint32_t total = iccOffset + static_cast<std::uint32_t>(v.icc.size());

    std::vector<std::uint8_t> out;
    out.reserve(total);
    out.push_back('B');
    out.push_back('M');
    put32(out, total);
    put32(out, 0);
    put32(out, offBits);
    put32(out, hs);
    const std::int32_t storedHeight = v.topDown ? -height : height;
    if (core) {
        put16(out, static_cast<std::uint32_t>(width));
        put16(out, static_cast<std::uint32_t>(storedHeight));
        put16(out, 1);
        put16(out, static_cast<std::uint32_t>(v.bits));
    } else {
        put32(out, static_cast<std::uint32_t>(width));
        put32(out, static_cast<std::uint32_t>(storedHeight));
        put16(out, 1);
        put16(out, static_cast<std::uint32_t>(v.bits));
        put32(out, v.compression);
        put32(out, static_cast<std::uint32_t>(pixelData.size()));
        put32(out, static_cast<std::uint32_t>(v.xPelsPerMeter));
        put32(out, static_cast<std::uint32_t>(v.yPelsPerMeter));
        put32(out, static_cast<std::uint32_t>(v.palette.size()));
        put32(out, 0);
        const auto m = effectiveMasks(v);
        if (v.header == Header::Os2) {
            out.resize(out.size() + 24, 0);
        } else if (hs >= 52) {
            const bool fields = v.compression == BI_BITFIELDS || v.compression == BI_ALPHABITFIELDS;
            for (int i = 0; i < 3; ++i) put32(out, fields ? m[static_cast<std::size_t>(i)] : 0);
            if (hs >= 56) put32(out, m[3]);
            if (hs >= 108) {
                put32(out, v.icc.empty() ? 0x73524742u : 0x4D424544u);  // 'sRGB' or 'MBED'
                out.resize(out.size() + 36 + 12, 0);  // end points, gamma
            }
            if (hs >= 124) {
                put32(out, 4);  // intent: perceptual
                put32(out, v.icc.empty() ? 0 : iccOffset - 14);
                put32(out, static_cast<std::uint32_t>(v.icc.size()));
                put32(out, 0);
            }
        } else if (maskBytes > 0) {
            for (std::uint32_t i = 0; i < maskBytes / 4; ++i) put32(out, m[i]);
        }
    }
    for (const RGBQUAD& c : v.palette) {
        out.push_back(c.rgbBlue);
        out.push_back(c.rgbGreen);
        out.push_back(c.rgbRed);
        if (!core) out.push_back(0);
    }
    out.insert(out.end(), pixelData.begin(), pixelData.end());
    out.insert(out.end(), v.icc.begin(), v.icc.end());
    return out;
}

std::vector<std::uint8_t> encode(const Variant& v, const Picture& p) {
    std::vector<std::uint8_t> pixels;
    if (v.compression == BI_RLE8 || v.compression == BI_RLE4 || isRle24(v)) {
        pixels = rleEncode(p, v.bits, v.runsIntoPadding);
    } else if (isHuffman1D(v)) {
        pixels = huffmanEncode(p);
    } else if (v.compression == BI_JPEG || v.compression == BI_PNG) {
        pixels = v.compression == BI_JPEG ? jpegOf(p) : pngOf(p);
    } else {
        for (int i = 0; i < p.height; ++i) {
            const int y = v.topDown ? i : p.height - 1 - i;
            const auto row = packRow(v, p, y);
            pixels.insert(pixels.end(), row.begin(), row.end());
        }
    }
    return encodeRaw(v, p.width, p.height, pixels);
}

Picture photo(int width, int height, bool indexed, unsigned seed) {
    Picture p;
    p.width = width;
    p.height = height;
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (indexed)
        p.indices.resize(n);
    else
        p.colours.resize(n);
    std::uint32_t state = seed * 2654435761u + 1;
    auto noise = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>(state >> 28) - 8;
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / width, w = static_cast<double>(y) / height;
            // Sky, a hill and a sun: smooth areas with detail at their edges.
            const bool hill = w > 0.6 + 0.15 * std::sin(u * 9.0);
            const double sun = std::hypot(u - 0.7, w - 0.25);
            // Foliage on the hill: fine detail of the kind that costs an encoder work.
            const int leaves = hill ? static_cast<int>(40 * std::sin(x * 0.9 + 3 * std::sin(y * 0.13)) *
                                                      std::sin(y * 0.7 + 2 * std::sin(x * 0.05)))
                                    : 0;
            int r = hill ? 60 + static_cast<int>(80 * w) + leaves / 2 : 120 + static_cast<int>(100 * (1 - w));
            int g = hill ? 110 + static_cast<int>(60 * std::sin(u * 40) * w) + leaves : 160 + static_cast<int>(60 * (1 - w));
            int b = hill ? 40 + leaves / 3 : 230;
            if (sun < 0.08) r = 255, g = 230, b = 120;
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x);
            if (indexed) {
                p.indices[i] = static_cast<std::uint8_t>((r * 3 + g * 4 + b) / 8 / 16 * 16 + (hill ? 3 : 0));
            } else {
                auto clampc = [](int c) { return static_cast<std::uint8_t>(c < 0 ? 0 : c > 255 ? 255 : c); };
                p.colours[i] = Rgba{clampc(r + noise()), clampc(g + noise()), clampc(b + noise()), 255};
            }
        }
    }
    return p;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool written = files::writeAll(fd, bytes.data(), bytes.size());
    return ::close(fd) == 0 && written;
}

std::vector<RGBQUAD> grayPalette(int entries) {
    std::vector<RGBQUAD> p(static_cast<std::size_t>(entries));
    // Even steps from black to white (255 divides by 1, 3, 15 and 255).
    const int step = entries > 1 ? 255 / (entries - 1) : 0;
    for (int i = 0; i < entries; ++i) {
        const auto g = static_cast<std::uint8_t>(i * step);
        p[static_cast<std::size_t>(i)] = RGBQUAD{g, g, g, 0};
    }
    return p;
}

std::vector<RGBQUAD> colourPalette(int entries) {
    std::vector<RGBQUAD> p(static_cast<std::size_t>(entries));
    for (int i = 0; i < entries; ++i) {
        p[static_cast<std::size_t>(i)] = RGBQUAD{static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(255 - i * 11),
                                                 static_cast<std::uint8_t>(i * 97 + 13), 0};
    }
    return p;
}

}  // namespace fixture
