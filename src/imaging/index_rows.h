// Rows of palette indices packed at 1, 2, 4 or 8 bits, the leftmost pixel in
// the most significant bits: the one way into and out of that packing.
#pragma once

#include "fast_paths.h"
#include "imaging.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace imaging {

// Turns packed index rows into one element per pixel, taken from a table of
// 2^bits elements of 1, 3 or 4 bytes: the indices themselves, gray levels,
// or colours. Packed bytes are looked up whole, several pixels at a time.
class IndexExpander {
public:
    IndexExpander(int bits, std::span<const std::uint8_t> elements, int elementSize);
    // Index i becomes the byte i.
    static IndexExpander indices(int bits);
    void expand(const std::uint8_t* packed, int count, std::uint8_t* out) const;

private:
    int bits_;
    int size_;
    std::vector<std::uint8_t> table_;  // each byte value's 8 / bits elements, side by side
};

// A palette as expander elements: B, G, R (size 3), B, G, R, X (size 4), or
// its red channel as gray levels (size 1).
std::vector<std::uint8_t> paletteElements(std::span<const RGBQUAD> palette, int size);

// Takes 8-bit indices through three 256-entry tables at once (a colour
// converter's Y, Cb and Cr): where the processor can look up 64 bytes in a
// register at a time, it does, else a word per index.
class TripleLookup {
public:
    explicit TripleLookup(const std::array<std::vector<std::uint8_t>, 3>& tables);
    void apply(const std::uint8_t* in, int count, std::uint8_t* out0, std::uint8_t* out1, std::uint8_t* out2) const;

private:
    alignas(64) std::uint8_t tables_[3][256];
    std::uint32_t words_[256];
    Level level_;
};

// Packs one index per byte into a row at 1, 2, 4 or 8 bits.
void packIndices(const std::uint8_t* indices, int bits, int count, std::uint8_t* out);

}  // namespace imaging
