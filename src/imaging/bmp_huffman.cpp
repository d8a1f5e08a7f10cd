// OS/2 Huffman 1D: 1-bit rows in ITU-T T.4 modified Huffman codes, bottom
// row first. Each row is runs of white (index 0) and black (index 1) in turn,
// starting white; a run is make-up codes, then one terminating code. EOL
// codes, after any zero fill, may come before a row; six of them end the page.
#include "bmp_huffman.h"

#include "bmp_decode.h"
#include "source_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>

namespace imaging {
namespace {

// T.4's tables: terminating codes for runs 0..63, make-up codes for
// 64..1728, and the extended make-up codes for 1792..2560 that both colours share.
constexpr HuffmanCode kWhiteTerminating[64] = {
    {0x35, 8}, {0x07, 6}, {0x07, 4}, {0x08, 4}, {0x0B, 4}, {0x0C, 4}, {0x0E, 4}, {0x0F, 4},
    {0x13, 5}, {0x14, 5}, {0x07, 5}, {0x08, 5}, {0x08, 6}, {0x03, 6}, {0x34, 6}, {0x35, 6},
    {0x2A, 6}, {0x2B, 6}, {0x27, 7}, {0x0C, 7}, {0x08, 7}, {0x17, 7}, {0x03, 7}, {0x04, 7},
    {0x28, 7}, {0x2B, 7}, {0x13, 7}, {0x24, 7}, {0x18, 7}, {0x02, 8}, {0x03, 8}, {0x1A, 8},
    {0x1B, 8}, {0x12, 8}, {0x13, 8}, {0x14, 8}, {0x15, 8}, {0x16, 8}, {0x17, 8}, {0x28, 8},
    {0x29, 8}, {0x2A, 8}, {0x2B, 8}, {0x2C, 8}, {0x2D, 8}, {0x04, 8}, {0x05, 8}, {0x0A, 8},
    {0x0B, 8}, {0x52, 8}, {0x53, 8}, {0x54, 8}, {0x55, 8}, {0x24, 8}, {0x25, 8}, {0x58, 8},
    {0x59, 8}, {0x5A, 8}, {0x5B, 8}, {0x4A, 8}, {0x4B, 8}, {0x32, 8}, {0x33, 8}, {0x34, 8},
};
constexpr HuffmanCode kBlackTerminating[64] = {
    {0x37, 10}, {0x02, 3}, {0x03, 2}, {0x02, 2}, {0x03, 3}, {0x03, 4}, {0x02, 4}, {0x03, 5},
    {0x05, 6}, {0x04, 6}, {0x04, 7}, {0x05, 7}, {0x07, 7}, {0x04, 8}, {0x07, 8}, {0x18, 9},
    {0x17, 10}, {0x18, 10}, {0x08, 10}, {0x67, 11}, {0x68, 11}, {0x6C, 11}, {0x37, 11}, {0x28, 11},
    {0x17, 11}, {0x18, 11}, {0xCA, 12}, {0xCB, 12}, {0xCC, 12}, {0xCD, 12}, {0x68, 12}, {0x69, 12},
    {0x6A, 12}, {0x6B, 12}, {0xD2, 12}, {0xD3, 12}, {0xD4, 12}, {0xD5, 12}, {0xD6, 12}, {0xD7, 12},
    {0x6C, 12}, {0x6D, 12}, {0xDA, 12}, {0xDB, 12}, {0x54, 12}, {0x55, 12}, {0x56, 12}, {0x57, 12},
    {0x64, 12}, {0x65, 12}, {0x52, 12}, {0x53, 12}, {0x24, 12}, {0x37, 12}, {0x38, 12}, {0x27, 12},
    {0x28, 12}, {0x58, 12}, {0x59, 12}, {0x2B, 12}, {0x2C, 12}, {0x5A, 12}, {0x66, 12}, {0x67, 12},
};
constexpr HuffmanCode kWhiteMakeUp[27] = {
    {0x1B, 5}, {0x12, 5}, {0x17, 6}, {0x37, 7}, {0x36, 8}, {0x37, 8}, {0x64, 8}, {0x65, 8},
    {0x68, 8}, {0x67, 8}, {0xCC, 9}, {0xCD, 9}, {0xD2, 9}, {0xD3, 9}, {0xD4, 9}, {0xD5, 9},
    {0xD6, 9}, {0xD7, 9}, {0xD8, 9}, {0xD9, 9}, {0xDA, 9}, {0xDB, 9}, {0x98, 9}, {0x99, 9},
    {0x9A, 9}, {0x18, 6}, {0x9B, 9},
};
constexpr HuffmanCode kBlackMakeUp[27] = {
    {0x0F, 10}, {0xC8, 12}, {0xC9, 12}, {0x5B, 12}, {0x33, 12}, {0x34, 12}, {0x35, 12}, {0x6C, 13},
    {0x6D, 13}, {0x4A, 13}, {0x4B, 13}, {0x4C, 13}, {0x4D, 13}, {0x72, 13}, {0x73, 13}, {0x74, 13},
    {0x75, 13}, {0x76, 13}, {0x77, 13}, {0x52, 13}, {0x53, 13}, {0x54, 13}, {0x55, 13}, {0x5A, 13},
    {0x5B, 13}, {0x64, 13}, {0x65, 13},
};
constexpr HuffmanCode kExtendedMakeUp[13] = {
    {0x08, 11}, {0x0C, 11}, {0x0D, 11}, {0x12, 12}, {0x13, 12}, {0x14, 12}, {0x15, 12}, {0x16, 12},
    {0x17, 12}, {0x1C, 12}, {0x1D, 12}, {0x1E, 12}, {0x1F, 12},
};
constexpr unsigned kLongestRun = 2560;

// Codes are decoded by looking at the next 13 bits (the longest code) in a
// table per colour. An entry holds the run and the code's length; a pattern
// that is no code holds kNoCode and the bits that tell (EOL lies among them:
// it may only come between rows, which look for it first).
constexpr unsigned kLookBits = 13;
constexpr unsigned kNoCode = 4095;

struct Lookup {
    std::array<std::uint16_t, 1u << kLookBits> entries{};
    // No code is a prefix of another, and only patterns of 8 zeros or more
    // (EOL, fill and nothing) lack one: a mistyped code breaks one or the other.
    bool sound = true;
};

constexpr void add(Lookup& t, HuffmanCode c, unsigned run) {
    const unsigned spare = kLookBits - c.length;
    for (unsigned i = unsigned{c.bits} << spare; i < (c.bits + 1u) << spare; ++i) {
        t.sound = t.sound && t.entries[i] == 0;
        t.entries[i] = static_cast<std::uint16_t>(run << 4 | c.length);
    }
}

constexpr Lookup lookup(bool black) {
    Lookup t;
    for (unsigned run = 0; run < 64; ++run) add(t, (black ? kBlackTerminating : kWhiteTerminating)[run], run);
    for (unsigned i = 0; i < 27; ++i) add(t, (black ? kBlackMakeUp : kWhiteMakeUp)[i], 64 * (i + 1));
    for (unsigned i = 0; i < 13; ++i) add(t, kExtendedMakeUp[i], 1792 + 64 * i);
    for (unsigned i = 0; i < t.entries.size(); ++i) {
        if (t.entries[i] != 0) continue;
        t.sound = t.sound && i < (1u << (kLookBits - 8));
        // Known to be no code at its first 1, or once 12 zeros have come.
        const unsigned zeros = static_cast<unsigned>(std::countl_zero(i)) - (32 - kLookBits);
        t.entries[i] = static_cast<std::uint16_t>(kNoCode << 4 | std::min(zeros + 1, 12u));
    }
    return t;
}
constexpr Lookup kWhite = lookup(false);
constexpr Lookup kBlack = lookup(true);
static_assert(kWhite.sound && kBlack.sound, "T.4 code tables damaged");

// Bytes no legal stream exceeds. A row has at most width + 1 runs, each one
// a make-up code of up to 13 bits and a terminating code of up to 12, with a
// 12-bit extended make-up per 2560 pixels: under 26 bits a run. An EOL and
// its fill take up to 64 bits a row, and the closing EOLs 128.
std::uint64_t streamLimit(const BmpFormat& f) {
    const std::uint64_t rowBytes = (26 * (static_cast<std::uint64_t>(f.width) + 1) + 64 + 7) / 8;  // below 2^33
    return rowBytes * static_cast<std::uint64_t>(f.height) + 16;  // height below 2^31
}

constexpr std::size_t kWindow = 64 * 1024;

// The stream as bits, most significant first, read from the file a window at
// a time. Past its end it reads as zeros.
class BitStream {
public:
    BitStream(const SourceFile& file, const BmpFormat& f) : stream_(file, f.pixelOffset, streamLimit(f), kWindow) {}

    // Holds at least 57 bits, or all that is left.
    int fill() {
        while (count_ <= 56) {
            if (at_ == size_) {
                if (stream_.ended()) return IMG_OK;
                at_ = 0;
                if (int rc = stream_.next(stream_.window(), stream_.capacity(), size_)) return rc;
                if (size_ == 0) return IMG_OK;
            }
            bits_ |= std::uint64_t{stream_.window()[at_++]} << (56 - count_);
            count_ += 8;
        }
        return IMG_OK;
    }
    unsigned available() const { return count_; }
    std::uint64_t bits() const { return bits_; }  // the next bits at the top, zeros past the end
    unsigned peek(unsigned n) const { return static_cast<unsigned>(bits_ >> (64 - n)); }
    void skip(unsigned n) {  // n < 64 and at most available()
        bits_ <<= n;
        count_ -= n;
    }
    int shortfall() const { return stream_.shortfall(); }

private:
    StreamBytes stream_;
    std::size_t size_ = 0;
    std::size_t at_ = 0;
    std::uint64_t bits_ = 0;
    unsigned count_ = 0;
};

// Skips the fill and EOLs before a row; `end` once six EOLs in a row close the page.
int skipEols(BitStream& in, bool& end) {
    for (int eols = 0; eols < 6;) {
        if (int rc = in.fill()) return rc;
        const unsigned next = in.peek(kHuffmanEol.length);
        if (next == kHuffmanEol.bits) {
            in.skip(kHuffmanEol.length);
            ++eols;
        } else if (next == 0) {
            if (in.available() < kHuffmanEol.length) return in.shortfall();
            // Fill: all but the 11 zeros that may start an EOL go at once.
            const unsigned zeros = std::min(static_cast<unsigned>(std::countl_zero(in.bits())), in.available());
            in.skip(zeros - (kHuffmanEol.length - 1));
        } else {
            return IMG_OK;
        }
    }
    end = true;
    return IMG_OK;
}

// One row's runs into `row`, one index a pixel.
int decodeRow(BitStream& in, std::uint8_t* row, unsigned width) {
    bool black = false;
    for (unsigned x = 0;;) {
        if (int rc = in.fill()) return rc;
        const std::uint16_t e = (black ? kBlack : kWhite).entries[in.peek(kLookBits)];
        const unsigned length = e & 15u;
        const unsigned run = e >> 4;
        if (length > in.available()) return in.shortfall();
        // No code (an EOL inside the row among them), or a run past the row's end.
        if (run > kLongestRun || run > width - x) return IMG_ERR_CORRUPT;
        in.skip(length);
        std::fill_n(row + x, run, static_cast<std::uint8_t>(black));
        x += run;
        if (run < 64) {  // a terminating code ends the run
            if (x == width) return IMG_OK;
            black = !black;
        }
    }
}

}  // namespace

HuffmanCode huffmanCode(bool black, int run) {
    const auto n = static_cast<unsigned>(run);
    if (n < 64) return black ? kBlackTerminating[n] : kWhiteTerminating[n];
    if (n <= 1728) return black ? kBlackMakeUp[n / 64 - 1] : kWhiteMakeUp[n / 64 - 1];
    return kExtendedMakeUp[std::min(n / 64 - 28, 12u)];
}

std::uint64_t huffmanWorkingBytes(const SourceFile& file, const BmpFormat& f) {
    return StreamBytes::windowBytes(file, f.pixelOffset, streamLimit(f), kWindow) + static_cast<std::uint64_t>(f.width);
}

int decodeHuffman(const SourceFile& file, const BmpFormat& f, const std::vector<RGBQUAD>& palette256, ImageData& image) {
    BitStream in(file, f);
    const IndexRowWriter out(image, palette256);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(f.width));
    for (int y = 0; y < f.height; ++y) {  // from the bottom
        bool end = false;
        if (int rc = skipEols(in, end)) return rc;
        if (end) {  // rows the page leaves out are white
            std::fill(row.begin(), row.end(), std::uint8_t{0});
            for (; y < f.height; ++y) out.write(bufferRow(image, f.height - 1 - y), row.data());
            return IMG_OK;
        }
        if (int rc = decodeRow(in, row.data(), static_cast<unsigned>(f.width))) return rc;
        out.write(bufferRow(image, f.height - 1 - y), row.data());
    }
    // What follows the last row (its closing EOLs) is not read.
    return IMG_OK;
}

}  // namespace imaging
