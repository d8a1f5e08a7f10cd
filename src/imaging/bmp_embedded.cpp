// Bitmaps whose pixels are a whole JPEG or PNG file. The stream is read into
// our memory first, so nothing the file does later reaches the picture, and
// decoded once into the 24-bit buffer. A stream the decoder complains about
// is refused: saving what it made up in place of missing pixels would let
// the bitmap be deleted for a damaged JPEG.
#include "bmp_decode.h"

#include "source_file.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t
#include <cstring>
#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

namespace imaging {
namespace {

// As pixel_rows.cpp composites 32-bit pixels.
constexpr std::uint8_t overWhite(std::uint32_t colour, std::uint32_t alpha) {
    return static_cast<std::uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

constexpr std::uint8_t product(std::uint32_t a, std::uint32_t b) { return static_cast<std::uint8_t>((a * b + 127) / 255); }

// ---- JPEG ----

// More scans than any encoder writes: each one is a pass over the whole
// picture, and a few thousand tiny ones would keep a thread busy for hours.
constexpr int kMaxScans = 500;

struct JpegJob {
    std::span<const std::uint8_t> stream;
    const BmpFormat& format;
    ImageData& image;
    int code = IMG_ERR_CORRUPT;  // why libjpeg gave up
    std::size_t end = 0;         // past the EOI marker
};

struct JpegErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void jpegFails(j_common_ptr cinfo, int code) {
    static_cast<JpegJob*>(cinfo->client_data)->code = code;
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

[[noreturn]] void jpegError(j_common_ptr cinfo) {
    jpegFails(cinfo, cinfo->err->msg_code == JERR_OUT_OF_MEMORY ? IMG_ERR_NO_MEMORY : IMG_ERR_CORRUPT);
}

// A warning is libjpeg carrying on past damage, with pixels of its own
// making, but for a newer JFIF version or a damaged colour profile.
void jpegMessage(j_common_ptr cinfo, int level) {
    const int code = cinfo->err->msg_code;
    if (level < 0 && code != JWRN_JFIF_MAJOR && code != JWRN_BOGUS_ICC)
        jpegFails(cinfo, code == JWRN_JPEG_EOF ? IMG_ERR_TRUNCATED : IMG_ERR_CORRUPT);
}

void countScans(j_common_ptr cinfo) {
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) jpegFails(cinfo, IMG_ERR_CORRUPT);
}

// Without a colour profile to go by, as most viewers do; Adobe's writers
// store every channel inverted.
void cmykToBgr(const JSAMPLE* in, int width, bool inverted, std::uint8_t* out) {
    for (int x = 0; x < width; ++x, in += 4, out += 3) {
        const auto ink = [inverted](JSAMPLE v) -> std::uint32_t { return inverted ? v : 255u - v; };
        const std::uint32_t k = ink(in[3]);
        out[0] = product(ink(in[2]), k);
        out[1] = product(ink(in[1]), k);
        out[2] = product(ink(in[0]), k);
    }
}

// Holds nothing that needs destroying, so libjpeg's errors may jump out.
int readJpeg(j_decompress_ptr cinfo, JpegJob& job) {
    jpeg_mem_src(cinfo, job.stream.data(), job.stream.size());
    jpeg_read_header(cinfo, TRUE);
    const BmpFormat& f = job.format;
    if (cinfo->image_width != static_cast<JDIMENSION>(f.width) || cinfo->image_height != static_cast<JDIMENSION>(f.height))
        return IMG_ERR_CORRUPT;
    // Gray, YCbCr, RGB, CMYK or YCCK: four components at most, as embeddedWorkingBytes counts.
    if (cinfo->jpeg_color_space == JCS_UNKNOWN) return IMG_ERR_CORRUPT;
    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(cinfo);
    JSAMPARRAY cmykRow = cmyk ? (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                                            cinfo->output_width * 4, 1)
                              : nullptr;
    while (cinfo->output_scanline < cinfo->output_height) {
        std::uint8_t* out = bufferRow(job.image, static_cast<int>(cinfo->output_scanline));
        JSAMPROW row = cmyk ? cmykRow[0] : out;
        jpeg_read_scanlines(cinfo, &row, 1);
        if (cmyk) cmykToBgr(row, f.width, cinfo->saw_Adobe_marker, out);
    }
    jpeg_finish_decompress(cinfo);
    job.end = job.stream.size() - cinfo->src->bytes_in_buffer;
    return IMG_OK;
}

// The only function that meets libjpeg's longjmp.
int decodeJpeg(JpegJob& job) {
    jpeg_decompress_struct cinfo{};  // destroyable even if creating it fails early
    JpegErrors err;
    cinfo.err = jpeg_std_error(&err.pub);
    cinfo.client_data = &job;  // kept by jpeg_create_decompress, for errors it meets
    err.pub.error_exit = jpegError;
    err.pub.emit_message = jpegMessage;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = countScans;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return job.code;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    const int rc = readJpeg(&cinfo, job);
    jpeg_destroy_decompress(&cinfo);
    return rc;
}

// ---- PNG ----

struct PngJob {
    std::span<const std::uint8_t> stream;
    const BmpFormat& format;
    ImageData& image;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::size_t read = 0;
    int code = IMG_ERR_CORRUPT;  // why libpng gave up
    // The rows as libpng hands them over: 8-bit R, G, B and maybe A.
    int passes = 1;
    int channels = 3;
    std::size_t rowBytes = 0;
    std::uint8_t* rows = nullptr;  // one row, or all of them for an interlaced PNG

    PngJob(std::span<const std::uint8_t> s, const BmpFormat& f, ImageData& d) : stream(s), format(f), image(d) {}
    ~PngJob() { png_destroy_read_struct(&png, &info, nullptr); }
};

void pngRead(png_structp png, png_bytep out, std::size_t count) {
    auto& job = *static_cast<PngJob*>(png_get_io_ptr(png));
    if (job.stream.size() - job.read < count) {
        job.code = IMG_ERR_TRUNCATED;
        png_error(png, "cut short");
    }
    std::memcpy(out, job.stream.data() + job.read, count);
    job.read += count;
}

[[noreturn]] void pngError(png_structp png, png_const_charp message) {
    if (std::strcmp(message, "Out of memory") == 0) static_cast<PngJob*>(png_get_error_ptr(png))->code = IMG_ERR_NO_MEMORY;
    png_longjmp(png, 1);
}

// Warnings are about chunks we skip or damage past the last pixel.
void pngWarning(png_structp, png_const_charp) {}

// Every kind of PNG becomes 8-bit RGB or RGBA rows: palettes and low depths
// expand, tRNS becomes alpha, 16-bit channels round to 8 bits (libpng's
// scaling is exactly (v * 255 + 32767) / 65535), and gamma stays as stored.
void readPngHeader(PngJob& job) {
    png_structp png = job.png;
    const BmpFormat& f = job.format;
    png_set_read_fn(png, &job, pngRead);
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    png_set_user_limits(png, static_cast<png_uint_32>(f.width), static_cast<png_uint_32>(f.height));
    // Only the chunks that make pixels are read; the rest are checked and skipped.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(png, job.info);
    if (png_get_image_width(png, job.info) != static_cast<png_uint_32>(f.width) ||
        png_get_image_height(png, job.info) != static_cast<png_uint_32>(f.height))
        png_error(png, "not the bitmap's size");
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    job.passes = png_set_interlace_handling(png);
    png_read_update_info(png, job.info);
    job.channels = png_get_channels(png, job.info);
    job.rowBytes = png_get_rowbytes(png, job.info);
    if (png_get_bit_depth(png, job.info) != 8 || job.channels < 3 || job.rowBytes != static_cast<std::size_t>(f.width) * job.channels)
        png_error(png, "unexpected rows");
}

void pngRowToBgr(const PngJob& job, const std::uint8_t* in, int y) {
    std::uint8_t* out = bufferRow(job.image, y);
    const bool alpha = job.channels == 4;
    for (int x = 0; x < job.format.width; ++x, in += job.channels, out += 3) {
        const std::uint32_t a = alpha ? in[3] : 255;
        out[0] = overWhite(in[2], a);
        out[1] = overWhite(in[1], a);
        out[2] = overWhite(in[0], a);
    }
}

// Row by row into the buffer; an interlaced PNG's passes need it whole first.
void readPngRows(PngJob& job) {
    const int height = job.format.height;
    const bool whole = job.passes > 1;
    for (int pass = 0; pass < job.passes; ++pass) {
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = job.rows + (whole ? static_cast<std::size_t>(y) * job.rowBytes : 0);
            png_read_row(job.png, row, nullptr);
            if (!whole) pngRowToBgr(job, row, y);
        }
    }
    for (int y = 0; whole && y < height; ++y) pngRowToBgr(job, job.rows + static_cast<std::size_t>(y) * job.rowBytes, y);
    png_read_end(job.png, nullptr);  // the chunks after the pixels, their checksums and IEND
}

// The only function that meets libpng's longjmp; `step` holds nothing that
// needs destroying.
int pngGuarded(PngJob& job, void (*step)(PngJob&)) {
    if (setjmp(png_jmpbuf(job.png))) return job.code;
    step(job);
    return IMG_OK;
}

int decodePng(PngJob& job) {
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, pngError, pngWarning);
    if (job.png == nullptr) return IMG_ERR_NO_MEMORY;
    job.info = png_create_info_struct(job.png);
    if (job.info == nullptr) return IMG_ERR_NO_MEMORY;
    if (int rc = pngGuarded(job, readPngHeader)) return rc;
    std::vector<std::uint8_t> rows(job.rowBytes * (job.passes > 1 ? static_cast<std::size_t>(job.format.height) : 1));
    job.rows = rows.data();
    return pngGuarded(job, readPngRows);
}

}  // namespace

// Sides are at most 65,500 here: the buffer was allocated at the file's size.
std::uint64_t embeddedWorkingBytes(const BmpFormat& f) {
    const std::uint64_t w = static_cast<std::uint64_t>(f.width), h = static_cast<std::uint64_t>(f.height);
    // A progressive JPEG keeps every coefficient: up to four components of
    // 64 two-byte ones per 8 x 8 block, blocks rounded up to whole MCUs. An
    // interlaced PNG is kept whole at 4 bytes a pixel.
    const std::uint64_t whole = f.coding == PixelCoding::Jpeg ? 4 * ((w + 31) / 8) * ((h + 31) / 8) * 128 : 4 * w * h;
    // The decoders' rows, with room for their largest sampling and context.
    const std::uint64_t rows = 512 * (w + 32);
    return f.streamBytes + whole + rows;
}

int decodeEmbedded(const SourceFile& file, const BmpFormat& f, ImageData& image) {
    if (f.streamBytes == 0) return IMG_ERR_TRUNCATED;
    // Within the memory limit (checked by loadInto), so that size_t holds it.
    auto stream = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(f.streamBytes));
    if (int rc = file.readAt(f.pixelOffset, stream->data(), stream->size())) return rc;
    if (f.coding == PixelCoding::Png) {
        PngJob job(*stream, f, image);
        return decodePng(job);
    }
    JpegJob job{*stream, f, image};
    if (int rc = decodeJpeg(job)) return rc;
    // Past the EOI marker, what the header counts in is the JPEG's (a second
    // picture, as cameras store them); the rest of a file is not.
    if (!f.streamSized && job.end < stream->size()) {
        stream->resize(job.end);
        stream->shrink_to_fit();
    }
    image.contents = contents::Jpeg{std::move(stream)};
    return IMG_OK;
}

}  // namespace imaging
