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
    BufferRows(const std::uint8_t* base, std::size_t stride, J_COLOR_SPACE space, int components)
        : RowSource(space, components), base_(base), stride_(stride) {}
    JSAMPROW row(int y) override { return const_cast<JSAMPROW>(base_ + static_cast<std::size_t>(y) * stride_); }

private:
    const std::uint8_t* base_;
    std::size_t stride_;
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
std::unique_ptr<RowSource> paletteRows(const IndexRows& rows, std::span<const RGBQUAD> palette, bool gray,
                                       const JpegOptions& options) {
    const auto entries = palette.first(std::min(palette.size(), std::size_t{1} << rows.depth));
    if (!gray)
        if (auto converted = convertedIndexRows(rows, entries, options)) return converted;
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

// Rows in the buffer's layout from `base`, `stride` apart.
std::unique_ptr<RowSource> bufferRows(const ImageData& d, const std::uint8_t* base, std::size_t stride, bool gray,
                                      const JpegOptions& options) {
    if (d.depth == 24) return std::make_unique<BufferRows>(base, stride, JCS_EXT_BGR, 3);
    if (gray && indicesAreLevels(d)) return std::make_unique<BufferRows>(base, stride, JCS_GRAYSCALE, 1);
    return paletteRows({base, stride, d.depth, d.width}, d.palette, gray, options);
}

// A picture of zeros (a buffer nothing was loaded into): one row of them, for every row.
class ZeroRows final : public RowSource {
public:
    ZeroRows(std::unique_ptr<std::uint8_t[]> zeros, std::unique_ptr<RowSource> rows)
        : RowSource(rows->space, rows->components), zeros_(std::move(zeros)), rows_(std::move(rows)) {}
    JSAMPROW row(int y) override { return rows_->row(y); }
    void started(j_compress_ptr cinfo) override { rows_->started(cinfo); }

private:
    std::unique_ptr<std::uint8_t[]> zeros_;
    std::unique_ptr<RowSource> rows_;
};

}  // namespace

std::unique_ptr<RowSource> rowsOf(const ImageData& d, bool gray, const JpegOptions& options) {
    if (const auto* kept = std::get_if<contents::Kept>(&d.contents)) return decodedRows(*kept->rows);
    if (const auto* packed = std::get_if<contents::Packed>(&d.contents)) {
        const PackedRows& rows = *packed->rows;
        return paletteRows({rows.bytes.get(), rows.stride, rows.depth, d.width}, d.palette, gray, options);
    }
    if (std::holds_alternative<contents::Junk>(d.contents)) {
        auto zeros = std::make_unique<std::uint8_t[]>(d.stride);  // value-initialised
        std::unique_ptr<RowSource> rows = bufferRows(d, zeros.get(), 0, gray, options);
        return std::make_unique<ZeroRows>(std::move(zeros), std::move(rows));
    }
    return bufferRows(d, d.pixels.get(), d.stride, gray, options);
}

}  // namespace imaging
