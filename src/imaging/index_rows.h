// Rows of palette indices packed at 1, 2, 4 or 8 bits, the leftmost pixel in
// the most significant bits: the one way into and out of that packing.
#pragma once

#include "imaging.h"

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

// Packs one index per byte into a row at 1, 2, 4 or 8 bits.
void packIndices(const std::uint8_t* indices, int bits, int count, std::uint8_t* out);

}  // namespace imaging
