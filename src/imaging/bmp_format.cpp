#include "bmp_format.h"

#include "internal.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace imaging {
namespace {

constexpr std::uint32_t kCompressionCmyk = 11;  // 11..13: CMYK, CMYK RLE8, CMYK RLE4
constexpr std::uint32_t kCompressionCmykRle4 = 13;
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

}  // namespace

int parseBmpHeader(std::span<const std::uint8_t> head, std::uint64_t fileSize, BmpFormat& f) {
    f = BmpFormat{};
    if (head.size() < 2 || head[0] != 'B' || head[1] != 'M') return IMG_ERR_NOT_BMP;
    if (head.size() < 18) return IMG_ERR_TRUNCATED;

    const std::uint32_t headerSize = readU32(&head[14]);
    HeaderKind kind;
    if (!kindFromSize(headerSize, kind)) return IMG_ERR_CORRUPT;
    if (fileSize < 14ull + headerSize) return IMG_ERR_TRUNCATED;

    // The header zero-extended to the V5 size: fields a short header lacks read as 0.
    std::uint8_t h[124] = {};
    const std::size_t avail = std::min<std::size_t>({headerSize, sizeof h, head.size() - 14});
    std::copy_n(&head[14], avail, h);

    BITMAPINFOHEADER& info = f.info;
    info.biSize = headerSize;
    if (kind == HeaderKind::Core) {
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
        info.biSizeImage = readU32(&h[20]);
        info.biXPelsPerMeter = readI32(&h[24]);
        info.biYPelsPerMeter = readI32(&h[28]);
        info.biClrUsed = readU32(&h[32]);
        info.biClrImportant = readU32(&h[36]);
    }

    // Reject the most negative height before negating it.
    if (info.biWidth <= 0 || info.biHeight == 0 || info.biHeight == std::numeric_limits<std::int32_t>::min())
        return IMG_ERR_CORRUPT;
    if (info.biPlanes != 1) return IMG_ERR_CORRUPT;
    f.width = info.biWidth;
    f.topDown = info.biHeight < 0;
    f.height = f.topDown ? -info.biHeight : info.biHeight;
    f.bitCount = info.biBitCount;

    const std::uint32_t compression = info.biCompression;
    if (compression == BI_JPEG || compression == BI_PNG) {
        // OS/2 reuses these numbers for Huffman 1D and RLE24, equally unsupported.
        return IMG_ERR_UNSUPPORTED;
    }
    if (kind == HeaderKind::Windows && compression >= kCompressionCmyk && compression <= kCompressionCmykRle4)
        return IMG_ERR_UNSUPPORTED;
    if (kind == HeaderKind::Os2 && compression == BI_BITFIELDS) return IMG_ERR_UNSUPPORTED;  // Huffman 1D

    // Which bit count goes with which compression.
    std::uint64_t paletteOffset = 14ull + headerSize;
    switch (compression) {
    case BI_RGB:
        switch (f.bitCount) {
        case 1: case 2: case 4: case 8: f.coding = PixelCoding::Indexed; break;
        case 24: f.coding = PixelCoding::Bgr24; break;
        case 16:
            f.coding = PixelCoding::Masks;
            f.masks = {channel(0x7C00), channel(0x03E0), channel(0x001F), ChannelMask{}};
            break;
        case 32:
            f.coding = PixelCoding::Masks;
            f.masks = {channel(0xFF0000), channel(0xFF00), channel(0xFF), ChannelMask{}};
            break;
        case 64: f.coding = PixelCoding::Rgba64; f.alphaMask = true; break;
        default: return IMG_ERR_CORRUPT;
        }
        if (kind == HeaderKind::Core && f.bitCount > 24) return IMG_ERR_CORRUPT;
        if (f.coding == PixelCoding::Masks && kind == HeaderKind::Windows && headerSize >= 56) {
            // Only the alpha mask of a V3+ header counts with BI_RGB; one that
            // collides with the fixed colour bits is ignored.
            const ChannelMask alpha = channel(readU32(&h[52]));
            const std::uint32_t colour = f.masks[0].mask | f.masks[1].mask | f.masks[2].mask;
            const std::uint32_t pixelBits = f.bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
            if ((alpha.mask & colour) == 0 && (alpha.mask & ~pixelBits) == 0) {
                f.masks[3] = alpha;
                f.alphaMask = alpha.mask != 0;
            }
        }
        break;
    case BI_RLE8:
    case BI_RLE4:
        if (f.bitCount != (compression == BI_RLE8 ? 8 : 4)) return IMG_ERR_CORRUPT;
        if (f.topDown) return IMG_ERR_CORRUPT;  // compressed bitmaps are always bottom-up
        f.coding = compression == BI_RLE8 ? PixelCoding::Rle8 : PixelCoding::Rle4;
        break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS: {
        if (kind != HeaderKind::Windows || (f.bitCount != 16 && f.bitCount != 32)) return IMG_ERR_CORRUPT;
        f.coding = PixelCoding::Masks;
        const unsigned count = compression == BI_ALPHABITFIELDS ? 4 : 3;
        std::uint32_t m[4] = {};
        unsigned fromHeader = headerSize >= 56 ? 4 : headerSize >= 52 ? 3 : 0;
        for (unsigned i = 0; i < fromHeader; ++i) m[i] = readU32(&h[40 + 4 * i]);
        if (fromHeader < count) {
            // The missing masks follow the header.
            const std::uint64_t need = 4ull * (count - fromHeader);
            if (fileSize < paletteOffset + need) return IMG_ERR_TRUNCATED;
            if (head.size() < paletteOffset + need) return IMG_ERR_CORRUPT;
            for (unsigned i = fromHeader; i < count; ++i)
                m[i] = readU32(&head[paletteOffset + 4 * (i - fromHeader)]);
            paletteOffset += need;
        }
        f.masks = {channel(m[0]), channel(m[1]), channel(m[2]), channel(m[3])};
        if (int rc = checkMasks(f)) return rc;
        break;
    }
    default:
        return IMG_ERR_CORRUPT;
    }

    // Palette: as many entries as declared, but never more than the depth
    // allows nor than the bytes that lie before the pixel data.
    const std::uint64_t declared =
        info.biClrUsed != 0 ? info.biClrUsed : (f.bitCount <= 8 ? 1ull << f.bitCount : 0);
    const std::uint32_t offBits = readU32(&head[10]);
    if (offBits == 0) {
        // Some writers leave the offset out; the pixels then follow the palette.
        f.pixelOffset = paletteOffset + declared * f.paletteEntrySize;
    } else if (offBits < paletteOffset) {
        return IMG_ERR_CORRUPT;
    } else {
        f.pixelOffset = offBits;
    }
    if (f.pixelOffset > fileSize) return IMG_ERR_CORRUPT;
    f.paletteOffset = paletteOffset;
    if (f.bitCount <= 8) {
        const std::uint64_t room = (f.pixelOffset - paletteOffset) / f.paletteEntrySize;
        f.paletteEntries = static_cast<unsigned>(std::min<std::uint64_t>({declared, room, 1ull << f.bitCount}));
    }
    f.fileStride = paddedStride(static_cast<std::uint64_t>(f.width), static_cast<unsigned>(f.bitCount));

    // An embedded colour profile travels into the JPEG; one that does not lie
    // inside the file is dropped rather than failing the picture.
    if (kind == HeaderKind::Windows && headerSize >= 124 && readU32(&h[56]) == kProfileEmbedded) {
        const std::uint64_t offset = 14ull + readU32(&h[112]);
        const std::uint64_t size = readU32(&h[116]);
        if (size > 0 && offset + size <= fileSize) {
            f.iccOffset = offset;
            f.iccSize = size;
        }
    }
    return IMG_OK;
}

}  // namespace imaging
