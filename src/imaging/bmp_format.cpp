#include "bmp_format.h"

#include "bytes.h"
#include "errors.h"
#include "image_data.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace imaging {
namespace {

constexpr std::uint32_t kCompressionCmyk = 11;  // 11..13: CMYK, CMYK RLE8, CMYK RLE4
constexpr std::uint32_t kCompressionCmykRle4 = 13;
// OS/2 gives two of Windows' numbers other meanings.
constexpr std::uint32_t kOs2Huffman1D = 3;  // BI_BITFIELDS to Windows
constexpr std::uint32_t kOs2Rle24 = 4;      // BI_JPEG to Windows
constexpr std::uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'

enum class HeaderKind { Core, Os2, Windows };

bool kindFromSize(std::uint32_t size, HeaderKind& kind) {
    if (size == 12) {
        kind = HeaderKind::Core;
    } else if (size == 40 || size == 52 || size == 56 || size == 108 || size >= 124) {
        kind = HeaderKind::Windows;
    } else if (size >= 16 && size <= 64) {
        // OS/2 2.x headers may be cut short anywhere after the bit count.
        kind = HeaderKind::Os2;
    } else {
        return false;
    }
    return true;
}

ChannelMask channel(std::uint32_t mask) {
    ChannelMask c;
    c.mask = mask;
    if (mask != 0) {
        c.shift = static_cast<unsigned>(std::countr_zero(mask));
        c.max = mask >> c.shift;
    }
    return c;
}

// Colour and alpha masks must fit the pixel and must not share bits.
int checkMasks(BmpFormat& f) {
    const std::uint64_t pixelBits = f.bitCount == 16 ? 0xFFFFull : 0xFFFFFFFFull;
    std::uint32_t seen = 0;
    for (const ChannelMask& c : f.masks) {
        if (c.mask & ~pixelBits) return IMG_ERR_CORRUPT;
        if (c.mask & seen) return IMG_ERR_CORRUPT;
        seen |= c.mask;
    }
    if ((f.masks[0].mask | f.masks[1].mask | f.masks[2].mask) == 0) return IMG_ERR_CORRUPT;
    f.alphaMask = f.masks[3].mask != 0;
    return IMG_OK;
}

// What the stages share: the bytes, and where the parse has got to.
struct Parse {
    std::span<const std::uint8_t> head;
    std::uint64_t fileSize;
    HeaderKind kind = HeaderKind::Windows;
    std::uint32_t headerSize = 0;
    std::uint8_t h[124] = {};  // the info header zero-extended to the V5 size
    std::uint64_t afterHeader = 0;  // where masks or the palette start
};

// Header size and kind come first: every later field's place depends on them.
int readHeaderSize(Parse& p) {
    if (p.head.size() < 2 || p.head[0] != 'B' || p.head[1] != 'M') return IMG_ERR_NOT_BMP;
    if (p.head.size() < 18) return IMG_ERR_TRUNCATED;
    p.headerSize = readU32(&p.head[14]);
    if (!kindFromSize(p.headerSize, p.kind)) return IMG_ERR_CORRUPT;
    if (p.fileSize < 14ull + p.headerSize) return IMG_ERR_TRUNCATED;
    // Fields a short header lacks read as 0, so later stages need not ask how long it was.
    const std::size_t avail = std::min<std::size_t>({p.headerSize, sizeof p.h, p.head.size() - 14});
    std::copy_n(&p.head[14], avail, p.h);
    p.afterHeader = 14ull + p.headerSize;
    return IMG_OK;
}

// The info fields, widened from core headers, so bmpinfo reports one shape.
int readInfoFields(const Parse& p, BmpFormat& f) {
    BITMAPINFOHEADER& info = f.info;
    const std::uint8_t* h = p.h;
    info.biSize = p.headerSize;
    if (p.kind == HeaderKind::Core) {
        // Core sizes are unsigned 16-bit: a core bitmap is always bottom-up.
        info.biWidth = readU16(&h[4]);
        info.biHeight = readU16(&h[6]);
        info.biPlanes = readU16(&h[8]);
        info.biBitCount = readU16(&h[10]);
        info.biCompression = BI_RGB;
        f.paletteEntrySize = 3;
    } else {
        info.biWidth = readI32(&h[4]);
        info.biHeight = readI32(&h[8]);
        info.biPlanes = readU16(&h[12]);
        info.biBitCount = readU16(&h[14]);
        info.biCompression = readU32(&h[16]);
        info.biSizeImage = readU32(&h[20]);  // reported, never trusted: writers get it wrong
        info.biXPelsPerMeter = readI32(&h[24]);
        info.biYPelsPerMeter = readI32(&h[28]);
        info.biClrUsed = readU32(&h[32]);
        info.biClrImportant = readU32(&h[36]);
    }
    // The most negative height has no positive twin: refuse it before negating.
    if (info.biWidth <= 0 || info.biHeight == 0 || info.biHeight == std::numeric_limits<std::int32_t>::min())
        return IMG_ERR_CORRUPT;
    if (info.biPlanes != 1) return IMG_ERR_CORRUPT;
    f.width = info.biWidth;
    f.topDown = info.biHeight < 0;
    f.height = f.topDown ? -info.biHeight : info.biHeight;
    f.bitCount = info.biBitCount;
    return IMG_OK;
}

// BI_RGB's fixed masks; a V3+ header's alpha mask counts too, unless it
// collides with the colour bits (then it is a writer's leftover, ignored).
void fixedMasks(const Parse& p, BmpFormat& f) {
    if (f.bitCount == 16)
        f.masks = {channel(0x7C00), channel(0x03E0), channel(0x001F), ChannelMask{}};
    else
        f.masks = {channel(0xFF0000), channel(0xFF00), channel(0xFF), ChannelMask{}};
    if (p.kind != HeaderKind::Windows || p.headerSize < 56) return;
    const ChannelMask alpha = channel(readU32(&p.h[52]));
    const std::uint32_t colour = f.masks[0].mask | f.masks[1].mask | f.masks[2].mask;
    const std::uint32_t pixelBits = f.bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    if ((alpha.mask & colour) == 0 && (alpha.mask & ~pixelBits) == 0) {
        f.masks[3] = alpha;
        f.alphaMask = alpha.mask != 0;
    }
}

// Bit-field masks live in the header when it is long enough (V2 and later),
// otherwise in the bytes that follow it, which then come before the palette.
int readBitFields(Parse& p, BmpFormat& f, std::uint32_t compression) {
    if (p.kind != HeaderKind::Windows || (f.bitCount != 16 && f.bitCount != 32)) return IMG_ERR_CORRUPT;
    const unsigned count = compression == BI_ALPHABITFIELDS ? 4 : 3;
    std::uint32_t m[4] = {};
    const unsigned fromHeader = p.headerSize >= 56 ? 4 : p.headerSize >= 52 ? 3 : 0;
    for (unsigned i = 0; i < fromHeader; ++i) m[i] = readU32(&p.h[40 + 4 * i]);
    if (fromHeader < count) {
        const std::uint64_t need = 4ull * (count - fromHeader);
        if (p.fileSize < p.afterHeader + need) return IMG_ERR_TRUNCATED;
        if (p.head.size() < p.afterHeader + need) return IMG_ERR_CORRUPT;
        for (unsigned i = fromHeader; i < count; ++i) m[i] = readU32(&p.head[p.afterHeader + 4 * (i - fromHeader)]);
        p.afterHeader += need;
    }
    f.masks = {channel(m[0]), channel(m[1]), channel(m[2]), channel(m[3])};
    return checkMasks(f);
}

// Which pixel coding the compression and bit count make together; the
// numbers mean different things to OS/2 and Windows, so the kind decides.
int readCoding(Parse& p, BmpFormat& f) {
    const std::uint32_t compression = f.info.biCompression;
    if (p.kind == HeaderKind::Windows && compression >= kCompressionCmyk && compression <= kCompressionCmykRle4)
        return IMG_ERR_UNSUPPORTED;
    if (p.kind == HeaderKind::Os2 && (compression == kOs2Huffman1D || compression == kOs2Rle24)) {
        if (f.bitCount != (compression == kOs2Huffman1D ? 1 : 24)) return IMG_ERR_CORRUPT;
        // Like RLE, both run bottom-up only.
        if (f.topDown) return IMG_ERR_CORRUPT;
        f.coding = compression == kOs2Huffman1D ? PixelCoding::Huffman1D : PixelCoding::Rle24;
        return IMG_OK;
    }
    if (compression == BI_JPEG || compression == BI_PNG) {
        // The stream holds its own depth and loads as 24-bit colour; the bit
        // count should be 0 and is reported so whatever a writer put there.
        // Its rows run top-down whatever the height's sign.
        if (p.kind != HeaderKind::Windows) return IMG_ERR_CORRUPT;
        f.coding = compression == BI_JPEG ? PixelCoding::Jpeg : PixelCoding::Png;
        f.bitCount = f.info.biBitCount = 0;
        return IMG_OK;
    }

    switch (compression) {
    case BI_RGB:
        switch (f.bitCount) {
        case 1: case 2: case 4: case 8: f.coding = PixelCoding::Indexed; break;
        case 24: f.coding = PixelCoding::Bgr24; break;
        case 16: case 32: f.coding = PixelCoding::Masks; fixedMasks(p, f); break;
        case 64: f.coding = PixelCoding::Rgba64; f.alphaMask = true; break;
        default: return IMG_ERR_CORRUPT;
        }
        if (p.kind == HeaderKind::Core && f.bitCount > 24) return IMG_ERR_CORRUPT;
        return IMG_OK;
    case BI_RLE8:
    case BI_RLE4:
        if (f.bitCount != (compression == BI_RLE8 ? 8 : 4)) return IMG_ERR_CORRUPT;
        // A top-down RLE bitmap is not defined: the stream runs bottom-up.
        if (f.topDown) return IMG_ERR_CORRUPT;
        f.coding = compression == BI_RLE8 ? PixelCoding::Rle8 : PixelCoding::Rle4;
        return IMG_OK;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
        f.coding = PixelCoding::Masks;
        return readBitFields(p, f, compression);
    default:
        return IMG_ERR_CORRUPT;
    }
}

// The palette holds as many entries as declared, but never more than the
// depth allows nor than the bytes before the pixel data; the pixel offset
// must lie past the headers and inside the file.
int locatePaletteAndPixels(const Parse& p, BmpFormat& f) {
    const bool embedded = f.coding == PixelCoding::Jpeg || f.coding == PixelCoding::Png;
    const std::uint64_t declared =
        f.info.biClrUsed != 0 ? f.info.biClrUsed : (f.bitCount <= 8 && !embedded ? 1ull << f.bitCount : 0);
    const std::uint32_t offBits = readU32(&p.head[10]);
    if (offBits == 0) {
        // Some writers leave the offset out; the pixels then follow the palette.
        f.pixelOffset = p.afterHeader + declared * f.paletteEntrySize;
    } else if (offBits < p.afterHeader) {
        return IMG_ERR_CORRUPT;
    } else {
        f.pixelOffset = offBits;
    }
    if (f.pixelOffset > p.fileSize) return IMG_ERR_CORRUPT;
    f.paletteOffset = p.afterHeader;
    if (embedded) {
        // The size is needed here; writers that leave it out mean the rest of
        // the file. Never more than any JPEG or PNG of the picture's size takes
        // (under 8 bytes a pixel and its metadata), so that a small picture in
        // a huge file costs neither.
        const std::uint64_t rest = p.fileSize - f.pixelOffset;
        const auto side = [](int v) { return std::min<std::uint64_t>(static_cast<std::uint64_t>(v), 1 << 16); };
        const std::uint64_t largest = 16 * side(f.width) * side(f.height) + (64 << 20);
        f.streamBytes = std::min({f.info.biSizeImage != 0 ? f.info.biSizeImage : rest, rest, largest});
        f.streamSized = f.info.biSizeImage != 0;
        return IMG_OK;
    }
    if (f.bitCount <= 8) {
        const std::uint64_t room = (f.pixelOffset - p.afterHeader) / f.paletteEntrySize;
        f.paletteEntries = static_cast<unsigned>(std::min<std::uint64_t>({declared, room, 1ull << f.bitCount}));
    }
    f.fileStride = paddedStride(static_cast<std::uint64_t>(f.width), static_cast<unsigned>(f.bitCount));
    return IMG_OK;
}

// An embedded profile travels into the JPEG; one that does not lie inside
// the file is dropped rather than failing a picture that reads fine.
void findColourProfile(const Parse& p, BmpFormat& f) {
    if (p.kind != HeaderKind::Windows || p.headerSize < 124 || readU32(&p.h[56]) != kProfileEmbedded) return;
    // The profile's offset counts from the info header, not from the file's start.
    const std::uint64_t offset = 14ull + readU32(&p.h[112]);
    const std::uint64_t size = readU32(&p.h[116]);
    if (size > 0 && offset + size <= p.fileSize) {
        f.iccOffset = offset;
        f.iccSize = size;
    }
}

}  // namespace

int parseBmpHeader(std::span<const std::uint8_t> head, std::uint64_t fileSize, BmpFormat& f) {
    f = BmpFormat{};
    Parse p{head, fileSize};
    if (int rc = readHeaderSize(p)) return rc;
    if (int rc = readInfoFields(p, f)) return rc;
    if (int rc = readCoding(p, f)) return rc;
    if (int rc = locatePaletteAndPixels(p, f)) return rc;
    findColourProfile(p, f);
    return IMG_OK;
}

}  // namespace imaging
