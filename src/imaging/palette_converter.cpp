#include "palette_converter.h"

#include "fast_paths.h"
#include "index_rows.h"
#include "jpeg_compress.h"
#include "jpeg_internals.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <jerror.h>
#include <vector>
#ifdef IMAGING_X86_LEVELS
#include <immintrin.h>
#endif

namespace imaging {
namespace {

using Planes = std::array<std::vector<std::uint8_t>, 3>;

// libjpeg's own converter, and where to copy what it made.
struct Capture {
    ColourConverter own;
    Planes* planes;
};

void capture(j_compress_ptr cinfo, JSAMPARRAY in, JSAMPIMAGE out, JDIMENSION outRow, int rows) {
    const Capture& c = *static_cast<const Capture*>(cinfo->client_data);
    c.own(cinfo, in, out, outRow, rows);
    for (std::size_t p = 0; p < 3; ++p) std::copy_n(out[p][outRow], (*c.planes)[p].size(), (*c.planes)[p].data());
}

// Every index's Y, Cb and Cr (planes[c][index]), as libjpeg's own converter
// makes them of a row of the palette's colours (black past its end): the
// JPEG's bytes stay libjpeg's, whatever its arithmetic.
bool paletteYcc(std::span<const RGBQUAD> palette, int depth, Planes& planes) {
    const std::size_t count = std::size_t{1} << depth;
    std::vector<std::uint8_t> bgrx = paletteElements(palette.first(std::min(palette.size(), count)), 4);
    bgrx.resize(4 * count);
    for (auto& plane : planes) plane.assign(count, 0);
    Capture c{nullptr, &planes};
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    const bool done = compressGuarded([&](j_compress_ptr cinfo) {
        jpeg_mem_dest(cinfo, &mem, &size);
        cinfo->image_width = static_cast<JDIMENSION>(count);
        cinfo->image_height = 1;
        cinfo->input_components = 4;
        cinfo->in_color_space = JCS_EXT_BGRX;
        jpeg_set_defaults(cinfo);
        jpeg_start_compress(cinfo, FALSE);
        c.own = replaceColourConverter(cinfo, capture);
        if (c.own == nullptr) return;
        cinfo->client_data = &c;
        JSAMPROW row = bgrx.data();
        jpeg_write_scanlines(cinfo, &row, 1);
    });
    std::free(mem);
    return done && c.own != nullptr;
}

#ifdef IMAGING_X86_LEVELS
// 8-bit indices through three 256-byte tables at once, 64 indices at a
// time: two permutes of 128 table bytes each, the index's top bit choosing
// between them.
class TripleLookup {
public:
    explicit TripleLookup(const Planes& planes) {
        for (std::size_t c = 0; c < 3; ++c) std::copy_n(planes[c].data(), 256, tables_[c]);
    }
    __attribute__((target("avx512f,avx512bw,avx512vbmi"))) void apply(const std::uint8_t* in, int count,
                                                                     std::uint8_t* const out[3]) const {
        __m512i t[3][4];
        for (int c = 0; c < 3; ++c)
            for (int q = 0; q < 4; ++q) t[c][q] = _mm512_load_si512(tables_[c] + 64 * q);
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

private:
    alignas(64) std::uint8_t tables_[3][256];
};
#endif

// Indexed rows go to libjpeg as they are, declared B, G, R, X, and our
// converter takes each index to Y, Cb and Cr. (A table of all 65536 16-bit
// values, tried the same way, came out slower than decoding.)
class ConvertedRows final : public RowSource {
public:
    ConvertedRows(const IndexRows& rows, const Planes& planes) : RowSource(JCS_EXT_BGRX, 4), rows_(rows) {
#ifdef IMAGING_X86_LEVELS
        if (rows.depth == 8) {
            lookup_ = std::make_unique<TripleLookup>(planes);
            return;
        }
#endif
        for (const auto& plane : planes) expanders_.emplace_back(rows.depth, plane, 1);
    }
    JSAMPROW row(int y) override { return const_cast<JSAMPROW>(rows_.row(y)); }
    // Indices must never reach libjpeg's converter as colours: no converter
    // of ours, no JPEG.
    void started(j_compress_ptr cinfo) override {
        cinfo->client_data = this;
        if (replaceColourConverter(cinfo, convert) == nullptr) ERREXIT(cinfo, JERR_NOT_COMPILED);
        notePathUse(PathUse::OwnConverter);
    }

private:
    static void convert(j_compress_ptr cinfo, JSAMPARRAY in, JSAMPIMAGE out, JDIMENSION outRow, int rows) {
        const auto* self = static_cast<const ConvertedRows*>(cinfo->client_data);
        for (int r = 0; r < rows; ++r, ++outRow) {
            std::uint8_t* const planes[3] = {out[0][outRow], out[1][outRow], out[2][outRow]};
            self->convertRow(in[r], planes);
        }
    }
    void convertRow(const std::uint8_t* in, std::uint8_t* const out[3]) const {
#ifdef IMAGING_X86_LEVELS
        if (lookup_) {
            lookup_->apply(in, rows_.width, out);
            return;
        }
#endif
        for (std::size_t c = 0; c < 3; ++c) expanders_[c].expand(in, rows_.width, out[c]);
    }

    IndexRows rows_;
#ifdef IMAGING_X86_LEVELS
    std::unique_ptr<TripleLookup> lookup_;
#endif
    std::vector<IndexExpander> expanders_;
};

}  // namespace

std::unique_ptr<RowSource> convertedIndexRows(const IndexRows& rows, std::span<const RGBQUAD> palette,
                                              const JpegOptions& options) {
    if (!ownConverterFor(fastPaths(), rows.depth, options) || !colourConverterReplaceable()) return nullptr;
    Planes planes;
    if (!paletteYcc(palette, rows.depth, planes)) return nullptr;
    return std::make_unique<ConvertedRows>(rows, planes);
}

}  // namespace imaging
