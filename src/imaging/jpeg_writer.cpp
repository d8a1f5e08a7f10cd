// savejpg: libjpeg-turbo's compressor behind an all-or-nothing file write.
#include "errors.h"
#include "file_ops.h"
#include "file_util.h"
#include "image_data.h"
#include "jpeg_compress.h"
#include "jpeg_rows.h"
#include "second_processor.h"
#include "target_file.h"
#include "testing_hooks.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>  // jpeglib.h needs FILE and size_t
#include <new>
#include <jpeglib.h>
#include <jerror.h>
#include <unistd.h>

using imaging::ImageAccess;
using imaging::ImageData;

namespace {

// Writes straight to the temporary file through a 256 KiB buffer.
struct FdDestination {
    jpeg_destination_mgr pub;
    int fd;
    JOCTET buffer[256 * 1024];
};

bool writeToFile(int fd, const JOCTET* data, std::size_t count) {
    if (!files::writeAll(fd, data, count, imaging::fileOps().write)) return imaging::noteOsError(errno), false;
    return true;
}

void initDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<FdDestination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = sizeof dest->buffer;
}

boolean emptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<FdDestination*>(cinfo->dest);
    if (!writeToFile(dest->fd, dest->buffer, sizeof dest->buffer)) ERREXIT(cinfo, JERR_FILE_WRITE);
    initDestination(cinfo);
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<FdDestination*>(cinfo->dest);
    if (!writeToFile(dest->fd, dest->buffer, sizeof dest->buffer - dest->pub.free_in_buffer)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

struct EncodeParams {
    int width;
    int height;
    JpegOptions options;
    std::int32_t xPelsPerMeter;
    std::int32_t yPelsPerMeter;
    const std::uint8_t* icc;
    std::size_t iccSize;
};

// Holds nothing that needs destroying, so libjpeg's errors may jump out.
void encodeInto(jpeg_compress_struct& cinfo, int fd, const EncodeParams& p, imaging::RowSource& rows) {
    static thread_local FdDestination dest;
    dest.fd = fd;
    dest.pub.init_destination = initDestination;
    dest.pub.empty_output_buffer = emptyOutputBuffer;
    dest.pub.term_destination = termDestination;
    cinfo.dest = &dest.pub;

    cinfo.image_width = static_cast<JDIMENSION>(p.width);
    cinfo.image_height = static_cast<JDIMENSION>(p.height);
    cinfo.input_components = rows.components;
    cinfo.in_color_space = rows.space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, p.options.quality, TRUE);
    // In cjpeg's order: the colour space, then the factors and the scans that depend on it.
    if (p.options.grayscale) jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    if (p.options.sampling != JpegSampling::Default) {
        cinfo.comp_info[0].h_samp_factor = p.options.sampling == JpegSampling::S444 ? 1 : 2;
        cinfo.comp_info[0].v_samp_factor = p.options.sampling == JpegSampling::S420 ? 2 : 1;
    }
    if (p.options.optimize) cinfo.optimize_coding = TRUE;
    if (p.options.progressive) jpeg_simple_progression(&cinfo);
    // Pixels per metre become dots per centimetre, truncated, as cjpeg does;
    // under one dot per centimetre there is no density to tell (a density of
    // 0 is invalid), and the JFIF default of 1:1 stays.
    if (p.xPelsPerMeter >= 100 && p.yPelsPerMeter >= 100) {
        cinfo.density_unit = 2;
        cinfo.X_density = static_cast<UINT16>(std::min(p.xPelsPerMeter / 100, 65535));
        cinfo.Y_density = static_cast<UINT16>(std::min(p.yPelsPerMeter / 100, 65535));
    }
    jpeg_start_compress(&cinfo, TRUE);
    rows.started(&cinfo);
    if (p.iccSize > 0) jpeg_write_icc_profile(&cinfo, p.icc, static_cast<unsigned>(p.iccSize));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = rows.row(static_cast<int>(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
}

// The image encoded as `options` say into fd.
bool encode(int fd, const ImageDescriptor* image, JpegOptions options) {
    const ImageData& d = ImageAccess::data(*image);
    options.quality = std::clamp(options.quality, 1, 100);
    const EncodeParams p{d.width,         d.height,
                         options,
                         d.xPelsPerMeter, d.yPelsPerMeter,
                         d.icc ? d.icc->data() : nullptr,
                         d.icc ? d.icc->size() : 0};
    const std::unique_ptr<imaging::RowSource> rows = imaging::rowsOf(d, savesAsGray(image), options);
    return imaging::compressGuarded([&](j_compress_ptr cinfo) { encodeInto(*cinfo, fd, p, *rows); });
}

}  // namespace

PendingJpeg::PendingJpeg() = default;
PendingJpeg::PendingJpeg(PendingJpeg&&) noexcept = default;
PendingJpeg& PendingJpeg::operator=(PendingJpeg&&) noexcept = default;
PendingJpeg::~PendingJpeg() = default;


int PendingJpeg::sameBytesAs(const char* path) const { return file_ ? file_->sameBytesAs(path) : -1; }
bool PendingJpeg::setModeAndTime(unsigned mode, long long seconds, long nanoseconds) {
    return file_ && file_->setModeAndTime(mode, seconds, nanoseconds);
}

// Out of memory for a name, the JPEG is not given one.
bool PendingJpeg::commit(bool replace) try {
    if (!file_) return false;
    const bool done = file_->commit(replace);
    file_.reset();
    return done;
} catch (const std::bad_alloc&) {
    file_.reset();
    imaging::noteOsError(ENOMEM);
    return false;
}

// A failed allocation of working memory is a failure to save, not an abort.
int savejpg_pending(const char* filename, const ImageDescriptor* image, const JpegOptions& options, PendingJpeg* out) try {
    imaging::noteOsError(0);
    if (out == nullptr) return IMG_ERR_WRITE;
    out->file_.reset();
    if (image == nullptr || !image->allocated() || !imaging::isSupportedDepth(image->depth())) return IMG_ERR_BAD_IMAGE;
    if (filename == nullptr) return IMG_ERR_WRITE;
    const imaging::BusyConversion busy;
    const ImageData& d = ImageAccess::data(*image);
    if (d.width > IMG_JPEG_MAX_SIDE || d.height > IMG_JPEG_MAX_SIDE) return IMG_ERR_TOO_LARGE;

    auto target = std::make_unique<imaging::TargetFile>();
    if (!target->open(filename)) return IMG_ERR_WRITE;
    // A bitmap that held a JPEG is that JPEG: its bytes go out unchanged,
    // without a second lossy pass, whatever the quality.
    const auto* embedded = std::get_if<imaging::contents::Jpeg>(&d.contents);
    const bool written = embedded ? writeToFile(target->fd(), embedded->bytes->data(), embedded->bytes->size())
                                  : encode(target->fd(), image, options);
    if (!written) return IMG_ERR_WRITE;  // target's destructor discards the file
    out->file_ = std::move(target);
    return IMG_OK;
} catch (const std::bad_alloc&) {
    return IMG_ERR_NO_MEMORY;
}

bool savesAsGray(const ImageDescriptor* image) {
    if (image == nullptr || !image->allocated() || image->depth() == 24) return false;
    const auto palette = image->palette();
    return std::all_of(palette.begin(), palette.end(),
                       [](const RGBQUAD& c) { return c.rgbRed == c.rgbGreen && c.rgbGreen == c.rgbBlue; });
}

int savejpg_pending(const char* filename, const ImageDescriptor* image, int quality, PendingJpeg* out) {
    return savejpg_pending(filename, image, JpegOptions(quality), out);
}

int savejpg(const char* filename, const ImageDescriptor* image, const JpegOptions& options) {
    PendingJpeg jpeg;
    if (int rc = savejpg_pending(filename, image, options, &jpeg)) return rc;
    return jpeg.commit() ? IMG_OK : IMG_ERR_WRITE;
}

int savejpg(const char* filename, const ImageDescriptor* image, int quality) { return savejpg(filename, image, JpegOptions(quality)); }
