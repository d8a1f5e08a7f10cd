#include "jpeg_rows.h"

#include "index_rows.h"
#include "palette_converter.h"
#include "pixel_rows.h"

#include <algorithm>
#include <functional>
#include <span>
#include <vector>

namespace imaging {
namespace {

// Rows libjpeg reads in place: 24-bit B, G, R, or 8-bit indices that are
// their own gray levels.
class BufferRows final : public RowSource {
public:
    BufferRows(const ImageData& d, J_COLOR_SPACE space, int components) : RowSource(space, components), d_(d) {}
    JSAMPROW row(int y) override { return bufferRow(d_, y); }

private:
    const ImageData& d_;
};

// Rows made for libjpeg a row at a time, while they are hot in the cache.
// (Made ahead on a second processor, they came out slower here.)
class PreparedRows final : public RowSource {
public:
    using Fill = std::function<void(int y, std::uint8_t* out)>;
    PreparedRows(J_COLOR_SPACE space, int components, int width, Fill fill)
        : RowSource(space, components), fill_(std::move(fill)),
          out_(static_cast<std::size_t>(width) * static_cast<unsigned>(components)) {}
    JSAMPROW row(int y) override {
        fill_(y, out_.data());
        return out_.data();
    }

private:
    Fill fill_;
    std::vector<std::uint8_t> out_;
};

// 16-, 32- and 64-bit rows as the file has them: plain 32-bit rows in place,
// the others decoded into B, G, R, X while they are hot.
class KeptRows final : public RowSource {
public:
    explicit KeptRows(const FileRows& file) : RowSource(JCS_EXT_BGRX, 4), file_(file) {}
    JSAMPROW row(int y) override { return const_cast<JSAMPROW>(file_.row(y)); }

private:
    const FileRows& file_;
};

std::unique_ptr<RowSource> decodedRows(const FileRows& file) {
    if (file.decoder.passthrough()) return std::make_unique<KeptRows>(file);
    return std::make_unique<PreparedRows>(JCS_EXT_BGRX, 4, file.width,
                                          [&file](int y, std::uint8_t* out) { file.decoder.decode(file.row(y), file.width, out); });
}

// Indexed rows through the palette: gray levels, or B, G, R, X for libjpeg
// to convert where our converter of the indices themselves does not run.
std::unique_ptr<RowSource> paletteRows(const IndexRows& rows, std::span<const RGBQUAD> palette, bool gray) {
    const auto entries = palette.first(std::min(palette.size(), std::size_t{1} << rows.depth));
    if (!gray)
        if (auto converted = convertedIndexRows(rows, entries)) return converted;
    const int size = gray ? 1 : 4;
    auto expander = std::make_shared<const IndexExpander>(rows.depth, paletteElements(entries, size), size);
    return std::make_unique<PreparedRows>(gray ? JCS_GRAYSCALE : JCS_EXT_BGRX, size, rows.width,
                                          [rows, expander](int y, std::uint8_t* out) { expander->expand(rows.row(y), rows.width, out); });
}

// An 8-bit gray ramp maps every index to itself.
bool indicesAreLevels(const ImageData& d) {
    if (d.depth != 8) return false;
    for (std::size_t i = 0; i < d.palette.size(); ++i)
        if (d.palette[i].rgbRed != i) return false;
    return true;
}

}  // namespace

std::unique_ptr<RowSource> rowsOf(const ImageData& d, bool gray) {
    if (d.pending && d.pending->file) return decodedRows(*d.pending->file);
    if (d.pending && d.pending->packed) {
        const PackedRows& packed = *d.pending->packed;
        return paletteRows({packed.bytes.get(), packed.stride, packed.depth, d.width}, d.palette, gray);
    }
    completeBuffer(d);
    if (d.depth == 24) return std::make_unique<BufferRows>(d, JCS_EXT_BGR, 3);
    if (gray && indicesAreLevels(d)) return std::make_unique<BufferRows>(d, JCS_GRAYSCALE, 1);
    return paletteRows({d.pixels.get(), d.stride, d.depth, d.width}, d.palette, gray);
}

}  // namespace imaging
