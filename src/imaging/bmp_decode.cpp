// bmpinfo and loadbmp: header first, then the pixels into the caller's buffer.
#include "bmp_decode.h"

#include "source_file.h"

#include <algorithm>

namespace imaging {
namespace {

bool isIndexedCoding(PixelCoding c) {
    return c == PixelCoding::Indexed || c == PixelCoding::Rle8 || c == PixelCoding::Rle4;
}

int readPalette(const SourceFile& file, const BmpFormat& f, std::vector<RGBQUAD>& colours) {
    std::vector<std::uint8_t> bytes(std::size_t{f.paletteEntries} * f.paletteEntrySize);
    if (int rc = file.readAt(f.paletteOffset, bytes.data(), bytes.size())) return rc;
    colours.resize(f.paletteEntries);
    const std::uint8_t* p = bytes.data();
    for (RGBQUAD& c : colours) {
        c = RGBQUAD{p[0], p[1], p[2], 0};
        p += f.paletteEntrySize;
    }
    return IMG_OK;
}

// Uncompressed rows must all be there; the last one may lack its padding.
bool pixelsPresent(const BmpFormat& f, std::uint64_t fileSize) {
    const std::uint64_t lastRow = (static_cast<std::uint64_t>(f.width) * static_cast<unsigned>(f.bitCount) + 7) / 8;
    return f.pixelOffset + f.fileStride * static_cast<std::uint64_t>(f.height - 1) + lastRow <= fileSize;
}

// Indexed rows into a deeper indexed buffer, or into colour.
void widenIndexedRows(const DecodeJob& job) {
    const BmpFormat& f = job.format;
    const IndexExpander unpack = IndexExpander::indices(f.bitCount);
    const IndexRowWriter out(job.image, job.palette256);
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(f.width));
    for (int y = 0; y < f.height; ++y) {
        unpack.expand(fileRow(job, y), f.width, indices.data());
        out.write(bufferRow(job.image, y), indices.data());
    }
}

// Rows that already have the buffer's layout go straight from the file into
// the buffer: one read for bottom-up files, a read per row for top-down ones.
int readRowsInPlace(const SourceFile& file, const BmpFormat& f, ImageData& d) {
    const std::uint64_t lastRow = (static_cast<std::uint64_t>(f.width) * static_cast<unsigned>(f.bitCount) + 7) / 8;
    prefault(d);
    if (!f.topDown) {
        const std::size_t whole = d.stride * static_cast<std::size_t>(f.height);
        std::size_t got = 0;
        if (int rc = file.readSome(f.pixelOffset, d.pixels.get(), whole, got)) return rc;
        return got >= whole - d.stride + lastRow ? IMG_OK : IMG_ERR_TRUNCATED;
    }
    for (int y = 0; y < f.height; ++y) {
        const std::size_t bytes = y == f.height - 1 ? static_cast<std::size_t>(lastRow) : d.stride;
        if (int rc = file.readAt(f.pixelOffset + f.fileStride * static_cast<std::uint64_t>(y), bufferRow(d, y), bytes))
            return rc;
    }
    return IMG_OK;
}

int decodePixels(const DecodeJob& job) {
    const BmpFormat& f = job.format;
    const bool rle = f.coding == PixelCoding::Rle8 || f.coding == PixelCoding::Rle4;
    if (!rle && !pixelsPresent(f, job.file.size())) return IMG_ERR_TRUNCATED;
    prefault(job.image);
    switch (f.coding) {
    case PixelCoding::Rle8:
    case PixelCoding::Rle4:
        return decodeRle(job);
    case PixelCoding::Indexed:
        widenIndexedRows(job);
        return IMG_OK;
    case PixelCoding::Masks:
        return decodeMasks(job);
    case PixelCoding::Rgba64:
        return decodeRgba64(job);
    default:
        return IMG_ERR_UNSUPPORTED;
    }
}

}  // namespace
}  // namespace imaging

using namespace imaging;

int bmpinfo(const char* filename, BITMAPINFOHEADER* bdat) {
    if (bdat == nullptr) return IMG_ERR_BAD_IMAGE;
    noteOsError(0);
    SourceFile file;
    if (int rc = file.open(filename)) return rc;
    std::uint8_t head[kHeaderProbeBytes];
    std::size_t got = 0;
    if (int rc = file.readSome(0, head, sizeof head, got)) return rc;
    BmpFormat format;
    if (int rc = parseBmpHeader({head, got}, file.size(), format)) return rc;
    *bdat = format.info;
    return IMG_OK;
}

int loadbmp(const char* filename, ImageDescriptor* image) {
    if (image == nullptr || !image->allocated() || !isSupportedDepth(image->depth())) return IMG_ERR_BAD_IMAGE;
    ImageData& d = ImageAccess::data(*image);
    noteOsError(0);

    SourceFile file;
    if (int rc = file.open(filename)) return rc;
    std::uint8_t head[kHeaderProbeBytes];
    std::size_t got = 0;
    if (int rc = file.readSome(0, head, sizeof head, got)) return rc;
    BmpFormat format;
    if (int rc = parseBmpHeader({head, got}, file.size(), format)) return rc;

    // The buffer must be the file's size, and deep enough for its pixels.
    if (format.width != d.width || format.height != d.height) return IMG_ERR_MISMATCH;
    const bool indexed = isIndexedCoding(format.coding);
    if (d.depth != 24 && (!indexed || d.depth < format.bitCount)) return IMG_ERR_MISMATCH;

    std::vector<RGBQUAD> colours;
    if (int rc = readPalette(file, format, colours)) return rc;
    const bool sameLayout =
        (format.coding == PixelCoding::Indexed || format.coding == PixelCoding::Bgr24) && d.depth == format.bitCount;
    if (sameLayout) {
        if (!pixelsPresent(format, file.size())) return IMG_ERR_TRUNCATED;
        if (int rc = readRowsInPlace(file, format, d)) return rc;
    } else {
        std::shared_ptr<std::uint8_t> bytes;
        std::size_t size = 0;
        if (int rc = file.readAll(bytes, size)) return rc;
        const std::vector<RGBQUAD> palette256 = fullPalette(colours, 8);
        const DecodeJob job{{bytes.get(), size}, format, palette256, d};
        if (int rc = decodePixels(job)) return rc;
    }

    d.palette = d.depth == 24 ? std::vector<RGBQUAD>{} : fullPalette(colours, d.depth);
    d.xPelsPerMeter = format.info.biXPelsPerMeter;
    d.yPelsPerMeter = format.info.biYPelsPerMeter;
    d.icc.reset();
    // A JPEG carries at most 255 segments of a profile; a larger one is dropped.
    if (format.iccSize > 0 && format.iccSize <= 255ull * 65519) {
        auto icc = std::make_shared<std::vector<std::uint8_t>>(format.iccSize);
        if (file.readAt(format.iccOffset, icc->data(), icc->size()) == IMG_OK) d.icc = std::move(icc);
    }
    return IMG_OK;
}
