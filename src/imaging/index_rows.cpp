#include "index_rows.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace imaging {
namespace {

// One table entry per packed byte; a constant size lets the copy be plain moves.
template <std::size_t Chunk>
void expandBytes(const std::uint8_t* table, const std::uint8_t* packed, std::size_t bytes, std::uint8_t* out) {
    for (std::size_t i = 0; i < bytes; ++i) std::memcpy(out + i * Chunk, table + packed[i] * Chunk, Chunk);
}

using ExpandFn = void (*)(const std::uint8_t*, const std::uint8_t*, std::size_t, std::uint8_t*);

ExpandFn expandFor(std::size_t chunk) {
    switch (chunk) {
    case 1: return expandBytes<1>;
    case 2: return expandBytes<2>;
    case 3: return expandBytes<3>;
    case 4: return expandBytes<4>;
    case 6: return expandBytes<6>;
    case 8: return expandBytes<8>;
    case 12: return expandBytes<12>;
    case 16: return expandBytes<16>;
    case 24: return expandBytes<24>;
    default: return expandBytes<32>;
    }
}

}  // namespace

IndexExpander::IndexExpander(int bits, std::span<const std::uint8_t> elements, int elementSize)
    : bits_(bits), size_(elementSize) {
    const unsigned perByte = 8u / static_cast<unsigned>(bits);
    const std::size_t chunk = perByte * static_cast<unsigned>(elementSize);
    const unsigned mask = (1u << bits) - 1;
    const std::size_t size = static_cast<unsigned>(elementSize);
    table_.resize(256 * chunk);  // zero: indices past a short table give zero bytes
    for (unsigned byte = 0; byte < 256; ++byte) {
        for (unsigned k = 0; k < perByte; ++k) {
            const std::size_t index = (byte >> (8 - static_cast<unsigned>(bits) * (k + 1))) & mask;
            if ((index + 1) * size <= elements.size())
                std::copy_n(&elements[index * size], size, &table_[byte * chunk + k * size]);
        }
    }
}

IndexExpander IndexExpander::indices(int bits) {
    std::vector<std::uint8_t> identity(std::size_t{1} << bits);
    std::iota(identity.begin(), identity.end(), std::uint8_t{0});
    return IndexExpander(bits, identity, 1);
}

void IndexExpander::expand(const std::uint8_t* packed, int count, std::uint8_t* out) const {
    const std::size_t perByte = 8u / static_cast<unsigned>(bits_);
    const std::size_t chunk = perByte * static_cast<unsigned>(size_);
    const std::size_t whole = static_cast<std::size_t>(count) / perByte;
    expandFor(chunk)(table_.data(), packed, whole, out);
    // The last byte may hold fewer pixels than it has room for.
    if (const std::size_t rest = static_cast<std::size_t>(count) % perByte)
        std::memcpy(out + whole * chunk, &table_[packed[whole] * chunk], rest * static_cast<unsigned>(size_));
}

std::vector<std::uint8_t> paletteElements(std::span<const RGBQUAD> palette, int size) {
    std::vector<std::uint8_t> out;
    out.reserve(palette.size() * static_cast<unsigned>(size));
    for (const RGBQUAD& c : palette) {
        if (size == 1) {
            out.push_back(c.rgbRed);
            continue;
        }
        out.insert(out.end(), {c.rgbBlue, c.rgbGreen, c.rgbRed});
        if (size == 4) out.push_back(0);
    }
    return out;
}

void packIndices(const std::uint8_t* indices, int bits, int count, std::uint8_t* out) {
    if (bits == 8) {
        std::copy_n(indices, count, out);
        return;
    }
    const int perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    for (int x = 0; x < count; x += perByte) {
        unsigned byte = 0;
        for (int k = 0; k < perByte; ++k) {
            const unsigned index = x + k < count ? indices[x + k] & mask : 0;
            byte |= index << (8 - bits * (k + 1));
        }
        *out++ = static_cast<std::uint8_t>(byte);
    }
}

}  // namespace imaging
