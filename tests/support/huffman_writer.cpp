#include "bmp_huffman.h"
#include "bmp_writer.h"

#include <algorithm>

namespace fixture {

// Runs in the reader's own codes; the reader tests pin some by their bits.
std::vector<std::uint8_t> huffmanEncode(const Picture& p) {
    std::vector<std::uint8_t> out;
    unsigned used = 8;  // bits of out.back()
    const auto put = [&](imaging::HuffmanCode c) {
        for (unsigned i = c.length; i-- > 0;) {
            if (used == 8) out.push_back(0), used = 0;
            out.back() |= static_cast<std::uint8_t>((c.bits >> i & 1u) << (7 - used++));
        }
    };
    // Each EOL ends on a byte boundary, as fax writers fill them.
    const auto eol = [&] {
        put({0, (12 - used % 8) % 8});
        put(imaging::kHuffmanEol);
    };
    for (int y = p.height - 1; y >= 0; --y) {
        eol();
        // A picture of colours (a header with the wrong depth) comes out white.
        const auto isBlack = [&](int x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) + static_cast<std::size_t>(x);
            return i < p.indices.size() && p.indices[i] != 0;
        };
        bool black = false;
        for (int x = 0; x < p.width; black = !black) {
            int run = 0;
            while (x + run < p.width && isBlack(x + run) == black) ++run;
            x += run;
            for (; run >= 64; run -= std::min(run, 2560) / 64 * 64) put(imaging::huffmanCode(black, std::min(run, 2560) / 64 * 64));
            put(imaging::huffmanCode(black, run));
        }
    }
    for (int i = 0; i < 6; ++i) eol();
    return out;
}

}  // namespace fixture
