// ITU-T T.4 modified Huffman codes, as OS/2 Huffman 1D bitmaps store their rows.
#pragma once

#include <cstdint>

namespace imaging {

struct HuffmanCode {
    std::uint16_t bits;  // right-aligned, sent most significant first
    unsigned length;
};

constexpr HuffmanCode kHuffmanEol{0x001, 12};

// The code for a run of `run` pixels: a terminating code for 0..63, a
// make-up code for multiples of 64 up to 2560.
HuffmanCode huffmanCode(bool black, int run);

}  // namespace imaging
