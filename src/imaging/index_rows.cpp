#include "index_rows.h"

#include <algorithm>
#include <cstring>
#include "fast_paths.h"
#ifdef IMAGING_X86_LEVELS
#include <immintrin.h>
#endif
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

#ifdef IMAGING_X86_LEVELS
namespace {

// 64 indices at a time: two permutes of 128 table bytes each, the index's
// top bit choosing between them.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void lookup64(const std::uint8_t (&tables)[3][256],
                                                                       const std::uint8_t* in, int count,
                                                                       std::uint8_t* const out[3]) {
    __m512i t[3][4];
    for (int c = 0; c < 3; ++c)
        for (int q = 0; q < 4; ++q) t[c][q] = _mm512_load_si512(tables[c] + 64 * q);
    for (int x = 0; x < count; x += 64) {
        const __mmask64 live = count - x >= 64 ? ~__mmask64{0} : (__mmask64{1} << (count - x)) - 1;
        const __m512i index = _mm512_maskz_loadu_epi8(live, in + x);
        const __mmask64 high = _mm512_movepi8_mask(index);
        for (int c = 0; c < 3; ++c) {
            const __m512i low = _mm512_permutex2var_epi8(t[c][0], index, t[c][1]);
            const __m512i top = _mm512_permutex2var_epi8(t[c][2], index, t[c][3]);
            _mm512_mask_storeu_epi8(out[c] + x, live, _mm512_mask_blend_epi8(high, low, top));
        }
    }
}


}  // namespace
#endif

TripleLookup::TripleLookup(const std::array<std::vector<std::uint8_t>, 3>& tables) : level_(fastPaths().level) {
    for (std::size_t i = 0; i < 256; ++i) {
        for (std::size_t c = 0; c < 3; ++c) tables_[c][i] = i < tables[c].size() ? tables[c][i] : 0;
        words_[i] = tables_[0][i] | static_cast<std::uint32_t>(tables_[1][i]) << 8 | static_cast<std::uint32_t>(tables_[2][i]) << 16;
    }
}

void TripleLookup::apply(const std::uint8_t* in, int count, std::uint8_t* out0, std::uint8_t* out1, std::uint8_t* out2) const {
#ifdef IMAGING_X86_LEVELS
    if (level_ >= Level::Avx512) {
        std::uint8_t* const out[3] = {out0, out1, out2};
        lookup64(tables_, in, count, out);
        return;
    }
#endif
    // One word per index, split: faster here than three byte tables.
    for (int x = 0; x < count; ++x) {
        const std::uint32_t v = words_[in[x]];
        out0[x] = static_cast<std::uint8_t>(v);
        out1[x] = static_cast<std::uint8_t>(v >> 8);
        out2[x] = static_cast<std::uint8_t>(v >> 16);
    }
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
