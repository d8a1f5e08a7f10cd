// RLE8, RLE4 and OS/2's RLE24 streams. Pixels the stream never sets keep
// index 0 (black, for RLE24).
#include "bmp_decode.h"

#include "source_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace imaging {
namespace {

// Runs are copied a whole step at a time, past their end, without a branch
// on their length; absolute runs are read the same way. This type owns what
// that asks of the memory on both sides:
// - the stream window keeps kLookahead bytes ahead of the decoder until the
//   stream ends, and kStep zero bytes after its end;
// - the drawn row has room for kStep bytes past any run that fits the row
//   and its padding (and as many again), and leaving a position clears the
//   step after it, so that leftovers never reach a pixel the stream sets later.
struct RunSteps {
    static constexpr unsigned kStep = 32;
    // The most one operation looks at: its code, and an absolute run of 255
    // pixels (RLE24's take three bytes each) read a whole step at a time.
    static constexpr std::size_t kLookahead = 2 + 3 * 255 + kStep;
    // Room for a row of `edge` pixels (its width and padding), `bytes` each.
    static std::size_t rowRoom(int edge, int bytes) {
        return static_cast<std::size_t>(edge) * static_cast<unsigned>(bytes) + 2 * kStep;
    }
    // Copies `pixels` indices from `from` (advancing by `advance` a step) to `out`, whole steps at a time.
    static void copy(std::uint8_t* out, const std::uint8_t* from, unsigned pixels, unsigned advance) {
        for (unsigned i = 0; i < pixels; i += kStep, from += advance) std::memcpy(out + i, from, kStep);
    }
    static void clearAfter(std::uint8_t* row, int x) { std::fill_n(row + x, kStep, std::uint8_t{0}); }
};
constexpr unsigned kStep = RunSteps::kStep;
// The stream is read this much at a time: reads cost next to nothing beside
// decoding, and the window stays in the cache.
constexpr std::size_t kWindow = 256 * 1024;

// The stream in a window of our own memory. Until the stream runs out, at
// least kLookahead bytes lie ahead of the decoder; once it has, kStep zero
// bytes follow its end.
class StreamWindow {
public:
    StreamWindow(const SourceFile& file, const BmpFormat& f) : stream_(file, f.pixelOffset, rleStreamLimit(f), kWindow, kStep) {}

    const std::uint8_t* data() { return stream_.window(); }
    std::size_t size() const { return size_; }
    // The decoder's position past which the window wants refilling.
    std::size_t refillAt() const { return ended_ ? SIZE_MAX : size_ - RunSteps::kLookahead; }

    // Keeps the bytes from `from` on, and reads what follows them.
    int refill(std::size_t from) {
        std::uint8_t* bytes = stream_.window();
        const std::size_t kept = size_ - from;
        std::memmove(bytes, bytes + from, kept);
        std::size_t got = 0;
        if (int rc = stream_.next(bytes + kept, stream_.capacity() - kept, got)) return rc;
        size_ = kept + got;
        if (stream_.ended()) {
            ended_ = true;
            std::fill_n(bytes + size_, kStep, std::uint8_t{0});
        }
        return IMG_OK;
    }

    int shortfall() const { return stream_.shortfall(); }

private:
    StreamBytes stream_;
    std::size_t size_ = 0;
    bool ended_ = false;
};

// Where a row's runs may end: its padding counts, since ImageMagick and
// GraphicsMagick run each row's last run on into it. What lands there is cut.
int rowEdge(const BmpFormat& f) {
    return static_cast<int>(f.fileStride * 8 / static_cast<unsigned>(f.bitCount));  // below 2^17
}

// The row the stream is drawing, as one index per byte (B, G, R for RLE24);
// finished rows go to the buffer at its own depth, bottom row first, as the
// stream runs.
class RowSink {
public:
    RowSink(ImageData& image, const std::vector<RGBQUAD>& palette256, const BmpFormat& f)
        : image_(image), out_(image, palette256), pixelBytes_(f.coding == PixelCoding::Rle24 ? 3 : 1),
          drawn_(RunSteps::rowRoom(rowEdge(f), pixelBytes_)) {}

    std::uint8_t* row() { return drawn_.data(); }

    // Leaves drawing position x for row y (counted from the bottom): rows
    // the stream leaves go to the buffer, and rows it skips go over as index 0.
    void leave(int x, int y) {
        RunSteps::clearAfter(drawn_.data(), x * pixelBytes_);
        for (; y_ < y && y_ < image_.height; ++y_) {
            std::uint8_t* out = bufferRow(image_, image_.height - 1 - y_);
            if (pixelBytes_ == 3)
                std::memcpy(out, drawn_.data(), static_cast<std::size_t>(image_.width) * 3);
            else
                out_.write(out, drawn_.data());
            std::fill(drawn_.begin(), drawn_.end(), std::uint8_t{0});
        }
    }
    void finish(int x) { leave(x, image_.height); }

private:
    ImageData& image_;
    IndexRowWriter out_;
    int pixelBytes_;
    std::vector<std::uint8_t> drawn_;
    int y_ = 0;
};

// Encoded runs and absolute runs alike copy whole steps from a source, a
// pattern or the stream, without a branch on which: in a photo they come
// mixed at random, and a mispredicted branch costs more than the copy.
// (RLE24, rare and three bytes a pixel, copies pixel by pixel.)
template <int Bits>
int decode(StreamWindow& in, const BmpFormat& f, RowSink& sink) {
    constexpr bool Four = Bits == 4;
    constexpr bool Colour = Bits == 24;
    if (int rc = in.refill(0)) return rc;
    const std::uint8_t* data = in.data();
    std::size_t end = in.size();
    std::size_t refillAt = in.refillAt();
    std::size_t p = 0;
    alignas(8) std::uint8_t pattern[kStep];
    const int edge = rowEdge(f);

    int x = 0;  // at most edge
    int y = 0;  // from the bottom; below the top row throughout
    for (;;) {
        if (p > refillAt) [[unlikely]] {
            if (int rc = in.refill(p)) return rc;
            end = in.size();
            refillAt = in.refillAt();
            p = 0;
        }
        if (end - p < 2) {
            // A stream without its end marker is complete only if every row was drawn.
            if (y != f.height - 1 || x < f.width) return in.shortfall();
            sink.finish(x);
            return IMG_OK;
        }
        const unsigned count = data[p];
        const unsigned code = data[p + 1];
        p += 2;
        if (count == 0 && code < 3) [[unlikely]] {
            if (code == 1) {  // end of bitmap
                sink.finish(x);
                return IMG_OK;
            }
            if (code == 0) {  // end of line
                sink.leave(x, y + 1);
                x = 0;
                ++y;
            } else {  // delta: move right and up
                if (end - p < 2) return in.shortfall();
                const int right = data[p];
                const int up = data[p + 1];
                p += 2;
                if (right > edge - x || up > f.height - y) return IMG_ERR_CORRUPT;
                sink.leave(x, y + up);
                x += right;
                y += up;
            }
            if (y == f.height) [[unlikely]] {
                // Every row is drawn: the rest is not read, but a run drawn right after is damage.
                sink.finish(x);
                const bool run = end - p >= 2 && !(data[p] == 0 && data[p + 1] < 3);
                return run ? IMG_ERR_CORRUPT : IMG_OK;
            }
            continue;
        }
        // An encoded run of `count` pixels (RLE24's colour takes two more
        // bytes), or an absolute run of `code` pixels padded to a 16-bit boundary.
        const bool encoded = count != 0;
        const unsigned pixels = encoded ? count : code;
        const std::size_t bytes = encoded ? (Colour ? 2 : 0) : Four ? (code + 1) / 2 : Colour ? 3 * code : code;
        if (end - p < bytes) return in.shortfall();
        if (pixels > static_cast<unsigned>(edge - x)) return IMG_ERR_CORRUPT;
        if constexpr (Colour) {
            std::uint8_t* out = sink.row() + 3 * static_cast<std::size_t>(x);
            if (encoded)
                for (unsigned i = 0; i < pixels; ++i) {
                    out[3 * i] = static_cast<std::uint8_t>(code);
                    std::memcpy(out + 3 * i + 1, data + p, 2);
                }
            else
                std::memcpy(out, data + p, bytes);
        } else {
            std::uint8_t* out = sink.row() + x;
            if (Four && !encoded) {
                for (unsigned i = 0; i < code; ++i) out[i] = (data[p + i / 2] >> ((i & 1) ? 0 : 4)) & 15u;
            } else {
                const std::uint64_t pair = Four ? (code >> 4) | (code & 15u) << 8 : code * 0x0101u;
                const std::uint64_t eight = pair * 0x0001000100010001ull;
                for (unsigned i = 0; i < kStep; i += 8) std::memcpy(pattern + i, &eight, 8);
                RunSteps::copy(out, encoded ? pattern : data + p, pixels, encoded ? 0 : kStep);
            }
        }
        x += static_cast<int>(pixels);
        p += std::min((bytes + 1) & ~std::size_t{1}, end - p);
    }
}

}  // namespace

std::uint64_t rleStreamLimit(const BmpFormat& f) {
    // Each operation of a legal stream moves the drawing position on, in
    // reading order, through (width + 1) x (height + 1) places, at no more
    // than 4 bytes a step (a delta of one pixel); the end marker fits in
    // what is left. A delta that moves nowhere counts like any other.
    const std::uint64_t places =
        (static_cast<std::uint64_t>(rowEdge(f)) + 1) * (static_cast<std::uint64_t>(f.height) + 1);  // below 2^62
    return 4 * places;
}

std::uint64_t rleWorkingBytes(const SourceFile& file, const BmpFormat& f) {
    const int bytes = f.coding == PixelCoding::Rle24 ? 3 : 1;
    return StreamBytes::windowBytes(file, f.pixelOffset, rleStreamLimit(f), kWindow, kStep) + RunSteps::rowRoom(rowEdge(f), bytes);
}

int decodeRle(const SourceFile& file, const BmpFormat& f, const std::vector<RGBQUAD>& palette256, ImageData& image) {
    StreamWindow in(file, f);
    RowSink sink(image, palette256, f);
    switch (f.coding) {
    case PixelCoding::Rle4: return decode<4>(in, f, sink);
    case PixelCoding::Rle24: return decode<24>(in, f, sink);
    default: return decode<8>(in, f, sink);
    }
}

}  // namespace imaging
