// bmpinfo and loadbmp: header first, then the pixels into the caller's buffer.
#include "bmp_decode.h"

#include "pixel_rows.h"
#include "second_processor.h"
#include "source_file.h"

#include <algorithm>
#include <new>

namespace imaging {
namespace {

bool isIndexedCoding(PixelCoding c) {
    return c == PixelCoding::Indexed || c == PixelCoding::Rle8 || c == PixelCoding::Rle4 || c == PixelCoding::Huffman1D;
}

// Codings whose pixels come as a stream of their own length, not as rows.
bool isStreamCoding(PixelCoding c) {
    return c == PixelCoding::Rle8 || c == PixelCoding::Rle4 || c == PixelCoding::Rle24 || c == PixelCoding::Huffman1D ||
           c == PixelCoding::Jpeg || c == PixelCoding::Png;
}

std::uint64_t streamWorkingBytes(const SourceFile& file, const BmpFormat& f) {
    switch (f.coding) {
    case PixelCoding::Huffman1D: return huffmanWorkingBytes(file, f);
    case PixelCoding::Jpeg:
    case PixelCoding::Png: return embeddedWorkingBytes(f);
    default: return rleWorkingBytes(file, f);
    }
}

int decodeStream(const SourceFile& file, const BmpFormat& f, const std::vector<RGBQUAD>& palette256, ImageData& d) {
    switch (f.coding) {
    case PixelCoding::Huffman1D: return decodeHuffman(file, f, palette256, d);
    case PixelCoding::Jpeg:
    case PixelCoding::Png: return decodeEmbedded(file, f, d);
    default: return decodeRle(file, f, palette256, d);
    }
}

int readHeader(const char* filename, SourceFile& file, BmpFormat& format) {
    if (int rc = file.open(filename)) return rc;
    std::uint8_t head[kHeaderProbeBytes];
    std::size_t got = 0;
    if (int rc = file.readSome(0, head, sizeof head, got)) return rc;
    return parseBmpHeader({head, got}, file.size(), format);
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

// Uncompressed rows as the file stores them.
StoredRows storedRows(const BmpFormat& f) {
    StoredRows s;
    s.offset = f.pixelOffset;
    s.stride = static_cast<std::size_t>(f.fileStride);
    s.rows = static_cast<std::size_t>(f.height);
    s.lastRow = static_cast<std::size_t>((static_cast<std::uint64_t>(f.width) * static_cast<unsigned>(f.bitCount) + 7) / 8);
    s.topDown = f.topDown;
    return s;
}

// Every uncompressed row must be in the file.
bool pixelsPresent(const BmpFormat& f, std::uint64_t fileSize) {
    const StoredRows s = storedRows(f);
    return fileSize >= s.offset && s.holds(0, s.rows, fileSize - s.offset);
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

// The file's rows in memory of our own.
struct PixelBytes {
    std::shared_ptr<std::uint8_t> bytes;
    std::size_t size = 0;
};

// Bytes of the file's rows, when they are read whole beside the buffer.
std::uint64_t allRowsBytes(const BmpFormat& f) { return f.fileStride * static_cast<std::uint64_t>(f.height); }

int readAllRows(const SourceFile& file, const BmpFormat& f, PixelBytes& out) {
    // Within the memory limit (checked by loadInto), so that size_t holds it.
    const std::uint64_t size = allRowsBytes(f);
    PixelMemory memory = pixelMemory(static_cast<std::size_t>(size));
    if (!memory.bytes) return IMG_ERR_NO_MEMORY;
    out.bytes = std::move(memory.bytes);
    out.size = static_cast<std::size_t>(size);
    return file.readRows(storedRows(f), out.bytes.get(), memory.fresh);
}

// Rows with the buffer's own layout go straight from the file into it.
int loadInPlace(const SourceFile& file, const BmpFormat& f, ImageData& d) {
    return file.readRows(storedRows(f), d.pixels.get(), d.untouched());
}

// 16-, 32- and 64-bit pixels stay as the file has them until their rows are used.
int loadKept(const SourceFile& file, const BmpFormat& f, ImageData& d) {
    PixelBytes kept;
    if (int rc = readAllRows(file, f, kept)) return rc;
    const bool composite = f.alphaMask && anyAlpha(f, kept.bytes.get());
    auto rows = std::make_shared<FileRows>(
        FileRows{std::move(kept.bytes), static_cast<std::size_t>(f.fileStride), f.height, f.width, MaskDecoder(f, composite)});
    d.contents = contents::Kept{std::move(rows)};
    return IMG_OK;
}

int loadDecoded(const SourceFile& file, const BmpFormat& f, const std::vector<RGBQUAD>& colours, ImageData& d) {
    const std::vector<RGBQUAD> palette256 = fullPalette(colours, 8);
    const bool stream = isStreamCoding(f.coding);
    PixelBytes bytes;
    if (!stream)
        if (int rc = readAllRows(file, f, bytes)) return rc;
    if (d.untouched()) prefault(d.pixels.get(), d.stride * static_cast<std::size_t>(d.height));
    if (stream) return decodeStream(file, f, palette256, d);
    widenIndexedRows({{bytes.bytes.get(), bytes.size}, f, palette256, d});
    return IMG_OK;
}

}  // namespace
}  // namespace imaging

using namespace imaging;

int bmpinfo(const char* filename, BITMAPINFOHEADER* bdat) {
    noteBytesNeeded(0);
    if (bdat == nullptr) return IMG_ERR_BAD_IMAGE;
    noteOsError(0);
    SourceFile file;
    BmpFormat format;
    if (int rc = readHeader(filename, file, format)) return rc;
    *bdat = format.info;
    return IMG_OK;
}

namespace {

// `needed`: what the picture holds at once, once it is known.
int loadInto(const char* filename, ImageDescriptor* image, std::uint64_t& needed) {
    if (image == nullptr || !image->allocated() || !isSupportedDepth(image->depth())) return IMG_ERR_BAD_IMAGE;
    const BusyConversion busy;
    ImageData& d = ImageAccess::data(*image);
    noteOsError(0);

    SourceFile file;
    BmpFormat format;
    if (int rc = readHeader(filename, file, format)) return rc;

    // The buffer must be the file's size, and deep enough for its pixels.
    if (format.width != d.width || format.height != d.height) return IMG_ERR_MISMATCH;
    const bool indexed = isIndexedCoding(format.coding);
    if (d.depth != 24 && (!indexed || d.depth < format.bitCount)) return IMG_ERR_MISMATCH;

    std::vector<RGBQUAD> colours;
    if (int rc = readPalette(file, format, colours)) return rc;
    const bool stream = isStreamCoding(format.coding);
    if (!stream && !pixelsPresent(format, file.size())) return IMG_ERR_TRUNCATED;
    const bool sameLayout =
        (format.coding == PixelCoding::Indexed || format.coding == PixelCoding::Bgr24) && d.depth == format.bitCount;
    const bool kept = format.coding == PixelCoding::Masks || format.coding == PixelCoding::Rgba64;
    // What is read beside the buffer counts with it against the limit.
    const std::uint64_t beside = sameLayout ? 0 : stream ? streamWorkingBytes(file, format) : allRowsBytes(format);
    needed = d.stride * static_cast<std::uint64_t>(d.height) + beside;
    if (needed > memoryLimit()) return IMG_ERR_NO_MEMORY;
    const int rc = sameLayout ? loadInPlace(file, format, d)
                   : kept     ? loadKept(file, format, d)
                              : loadDecoded(file, format, colours, d);
    if (rc != IMG_OK) {
        d.contents = contents::Junk{};  // whatever the reading left
        return rc;
    }
    // An embedded JPEG's decoder leaves its bytes beside the picture.
    if (!kept && format.coding != PixelCoding::Jpeg) d.contents = contents::Filled{};

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

}  // namespace

int loadbmp(const char* filename, ImageDescriptor* image) {
    noteBytesNeeded(0);
    // Memory the system will not give, here or in working memory, is a
    // failure of this picture, not an abort.
    std::uint64_t needed = 0;
    int rc;
    try {
        rc = loadInto(filename, image, needed);
    } catch (const std::bad_alloc&) {
        rc = IMG_ERR_NO_MEMORY;
    }
    if (rc == IMG_ERR_NO_MEMORY) noteBytesNeeded(needed);
    return rc;
}
