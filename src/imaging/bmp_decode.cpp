// bmpinfo and loadbmp: header first, then the pixels into the caller's buffer.
#include "bmp_decode.h"

#include "file_bytes.h"

#include <algorithm>

namespace imaging {
namespace {

bool isIndexedCoding(PixelCoding c) {
    return c == PixelCoding::Indexed || c == PixelCoding::Rle8 || c == PixelCoding::Rle4;
}

std::vector<RGBQUAD> readPalette(std::span<const std::uint8_t> file, const BmpFormat& f) {
    std::vector<RGBQUAD> colours(f.paletteEntries);
    const std::uint8_t* p = file.data() + f.paletteOffset;
    for (RGBQUAD& c : colours) {
        c = RGBQUAD{p[0], p[1], p[2], 0};
        p += f.paletteEntrySize;
    }
    return colours;
}

// Uncompressed rows must all be there; the last one may lack its padding.
bool pixelsPresent(const BmpFormat& f, std::uint64_t fileSize) {
    const std::uint64_t lastRow = (static_cast<std::uint64_t>(f.width) * static_cast<unsigned>(f.bitCount) + 7) / 8;
    return f.pixelOffset + f.fileStride * static_cast<std::uint64_t>(f.height - 1) + lastRow <= fileSize;
}

// Rows that already have the buffer's layout are copied as they are.
void copyRows(const DecodeJob& job) {
    const BmpFormat& f = job.format;
    const std::size_t bytes = (static_cast<std::size_t>(f.width) * static_cast<unsigned>(f.bitCount) + 7) / 8;
    for (int y = 0; y < f.height; ++y) std::copy_n(fileRow(job, y), bytes, bufferRow(job.image, y));
}

// Indexed rows into a deeper indexed buffer, or into colour.
void widenIndexedRows(const DecodeJob& job) {
    const BmpFormat& f = job.format;
    ImageData& d = job.image;
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(f.width));
    for (int y = 0; y < f.height; ++y) {
        unpackIndices(fileRow(job, y), f.bitCount, f.width, indices.data());
        std::uint8_t* out = bufferRow(d, y);
        if (d.depth == 24) {
            for (int x = 0; x < f.width; ++x) putColour(out + 3 * x, job.palette256[indices[x]]);
        } else if (d.depth == 8) {
            std::copy(indices.begin(), indices.end(), out);
        } else {
            for (int x = 0; x < f.width; ++x) setIndex(out, x, d.depth, indices[x]);
        }
    }
}

int decodePixels(const DecodeJob& job, const FileBytes& file) {
    const BmpFormat& f = job.format;
    ImageData& d = job.image;
    const bool rle = f.coding == PixelCoding::Rle8 || f.coding == PixelCoding::Rle4;
    if (!rle && !pixelsPresent(f, file.size())) return IMG_ERR_TRUNCATED;
    const bool sameLayout = (f.coding == PixelCoding::Indexed || f.coding == PixelCoding::Bgr24) && d.depth == f.bitCount;
    if (sameLayout && !f.topDown && f.pixelOffset + f.fileStride * static_cast<std::uint64_t>(f.height) <= file.size()) {
        // Bottom-up and complete: the file's own pages become the buffer, and
        // the zeroed one is never touched.
        d.pixels = file.share(f.pixelOffset);
        return IMG_OK;
    }
    prefault(d);
    switch (f.coding) {
    case PixelCoding::Rle8:
    case PixelCoding::Rle4:
        return decodeRle(job);
    case PixelCoding::Indexed:
    case PixelCoding::Bgr24:
        if (sameLayout)
            copyRows(job);
        else
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
    std::uint8_t head[kHeaderProbeBytes];
    std::size_t got = 0;
    std::uint64_t size = 0;
    if (int rc = readFileHead(filename, head, sizeof head, got, size)) return rc;
    BmpFormat format;
    if (int rc = parseBmpHeader({head, got}, size, format)) return rc;
    *bdat = format.info;
    return IMG_OK;
}

int loadbmp(const char* filename, ImageDescriptor* image) {
    if (image == nullptr || !image->allocated() || !isSupportedDepth(image->depth())) return IMG_ERR_BAD_IMAGE;
    ImageData& d = ImageAccess::data(*image);

    FileBytes file;
    if (int rc = file.open(filename)) return rc;
    const std::span<const std::uint8_t> bytes = file.bytes();
    BmpFormat format;
    if (int rc = parseBmpHeader(bytes.first(std::min<std::size_t>(bytes.size(), kHeaderProbeBytes)), bytes.size(), format))
        return rc;

    // The buffer must be the file's size, and deep enough for its pixels.
    if (format.width != d.width || format.height != d.height) return IMG_ERR_MISMATCH;
    const bool indexed = isIndexedCoding(format.coding);
    if (d.depth != 24 && (!indexed || d.depth < format.bitCount)) return IMG_ERR_MISMATCH;

    const std::vector<RGBQUAD> colours = readPalette(bytes, format);
    const std::vector<RGBQUAD> palette256 = fullPalette(colours, 8);
    const DecodeJob job{bytes, format, palette256, d};
    if (int rc = decodePixels(job, file)) return rc;

    d.palette = d.depth == 24 ? std::vector<RGBQUAD>{} : fullPalette(colours, d.depth);
    d.xPelsPerMeter = format.info.biXPelsPerMeter;
    d.yPelsPerMeter = format.info.biYPelsPerMeter;
    d.icc.reset();
    if (format.iccSize > 0) {
        const auto* begin = bytes.data() + format.iccOffset;
        d.icc = std::make_shared<const std::vector<std::uint8_t>>(begin, begin + format.iccSize);
    }
    return IMG_OK;
}
