#include "jpeg_rows.h"

#include "fast_paths.h"
#include "index_rows.h"
#include "pixel_rows.h"

#include <array>
#include <csetjmp>
#include <cstdlib>
#include <functional>
#include <span>
#include <jpegint.h>  // the colour converter, which indexed rows replace

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

// Rows of palette indices wherever they are: the buffer, or packed rows
// kept for a widened picture.
struct IndexRows {
    const std::uint8_t* base;
    std::size_t stride;
    int depth;
    int width;
    const std::uint8_t* row(int y) const { return base + static_cast<std::size_t>(y) * stride; }
};

struct ErrorJump {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void jumpOut(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<ErrorJump*>(cinfo->err)->jump, 1); }
void quiet(j_common_ptr) {}

// Every palette entry's Y, Cb and Cr (planes[c][index]), as libjpeg's own
// colour converter gives them: the JPEG's bytes stay libjpeg's, whatever its
// arithmetic. Touches nothing that needs destroying besides the compressor.
bool paletteYcc(std::span<const RGBQUAD> palette, std::array<std::vector<std::uint8_t>, 3>& planes) {
    constexpr JDIMENSION kWidth = 256;
    constexpr std::size_t kRoom = kWidth + 64;  // vector code may write whole registers past the end
    std::vector<std::uint8_t> bgrx = paletteElements(palette, 4);
    bgrx.resize(4 * kRoom);
    JSAMPROW in = bgrx.data();
    JSAMPROW outRows[3];
    for (std::size_t c = 0; c < 3; ++c) {
        planes[c].assign(kRoom, 0);
        outRows[c] = planes[c].data();
    }
    JSAMPARRAY out[3] = {&outRows[0], &outRows[1], &outRows[2]};

    jpeg_compress_struct cinfo;
    ErrorJump err;
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = jumpOut;
    err.pub.output_message = quiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(mem);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &mem, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = 1;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, FALSE);
    cinfo.cconvert->color_convert(&cinfo, &in, out, 0, 1);
    jpeg_destroy_compress(&cinfo);
    std::free(mem);
    for (auto& plane : planes) plane.resize(palette.size());
    return true;
}

// Colour indexed rows go to libjpeg as they are, and a colour converter of
// ours takes each index straight to Y, Cb and Cr: one look-up in place of a
// look-up into B, G, R and libjpeg's own conversion of that. (A table of all
// 65536 16-bit values, tried the same way, came out slower than decoding.)
class IndexedRows final : public RowSource {
public:
    IndexedRows(const IndexRows& rows, const std::array<std::vector<std::uint8_t>, 3>& planes)
        : RowSource(JCS_EXT_BGRX, 4), rows_(rows) {
        if (rows.depth == 8)
            lookup_ = std::make_unique<TripleLookup>(planes);
        else
            for (const auto& plane : planes) expanders_.emplace_back(rows.depth, plane, 1);
    }
    JSAMPROW row(int y) override { return const_cast<JSAMPROW>(rows_.row(y)); }
    void started(j_compress_ptr cinfo) override {
        cinfo->client_data = this;
        cinfo->cconvert->color_convert = convert;
    }

private:
    static void convert(j_compress_ptr cinfo, JSAMPARRAY in, JSAMPIMAGE out, JDIMENSION outRow, int rows) {
        const auto* self = static_cast<const IndexedRows*>(cinfo->client_data);
        for (int r = 0; r < rows; ++r, ++outRow) self->convertRow(in[r], out[0][outRow], out[1][outRow], out[2][outRow]);
    }
    void convertRow(const std::uint8_t* in, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr) const {
        if (lookup_) {
            lookup_->apply(in, rows_.width, y, cb, cr);
            return;
        }
        expanders_[0].expand(in, rows_.width, y);
        expanders_[1].expand(in, rows_.width, cb);
        expanders_[2].expand(in, rows_.width, cr);
    }

    IndexRows rows_;
    std::unique_ptr<TripleLookup> lookup_;
    std::vector<IndexExpander> expanders_;
};

// Indexed rows through the palette, to gray levels or to Y, Cb, Cr.
std::unique_ptr<RowSource> paletteRows(const IndexRows& rows, std::span<const RGBQUAD> palette, bool gray) {
    const auto entries = palette.first(std::min(palette.size(), std::size_t{1} << rows.depth));
    std::array<std::vector<std::uint8_t>, 3> planes;
    if (!gray && fastPaths().ownConverter && paletteYcc(entries, planes)) {
        notePathUse(PathUse::OwnConverter);
        return std::make_unique<IndexedRows>(rows, planes);
    }
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
std::unique_ptr<RowSource> bufferRows(const ImageData& d, const std::uint8_t* base, std::size_t stride, bool gray) {
    if (d.depth == 24) return std::make_unique<BufferRows>(base, stride, JCS_EXT_BGR, 3);
    if (gray && indicesAreLevels(d)) return std::make_unique<BufferRows>(base, stride, JCS_GRAYSCALE, 1);
    return paletteRows({base, stride, d.depth, d.width}, d.palette, gray);
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

std::unique_ptr<RowSource> rowsOf(const ImageData& d, bool gray) {
    if (const auto* kept = std::get_if<contents::Kept>(&d.contents)) return decodedRows(*kept->rows);
    if (const auto* packed = std::get_if<contents::Packed>(&d.contents)) {
        const PackedRows& rows = *packed->rows;
        return paletteRows({rows.bytes.get(), rows.stride, rows.depth, d.width}, d.palette, gray);
    }
    if (std::holds_alternative<contents::Junk>(d.contents)) {
        auto zeros = std::make_unique<std::uint8_t[]>(d.stride);  // value-initialised
        std::unique_ptr<RowSource> rows = bufferRows(d, zeros.get(), 0, gray);
        return std::make_unique<ZeroRows>(std::move(zeros), std::move(rows));
    }
    return bufferRows(d, d.pixels.get(), d.stride, gray);
}

}  // namespace imaging
