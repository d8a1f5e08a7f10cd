// Pellicor's imaging layer: reads Windows bitmaps and writes JPEG files.
//
// Seven functions make the whole interface. Every function that returns an
// int returns IMG_OK (0) on success and one of the negative IMG_ERR_* codes
// below on failure; nothing throws across this interface and nothing aborts.
// File names are 8-bit text in the local file-name encoding (UTF-8 here).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// ---- Result codes ---------------------------------------------------------

constexpr int IMG_OK = 0;
constexpr int IMG_ERR_OPEN = -1;         // file missing, unreadable, or a folder
constexpr int IMG_ERR_NOT_BMP = -2;      // no "BM" signature, or too short for any header
constexpr int IMG_ERR_UNSUPPORTED = -3;  // a real bitmap variant we cannot decode (CMYK)
constexpr int IMG_ERR_CORRUPT = -4;      // a header that makes no sense, bad masks,
                                         // an RLE stream that runs past the image
constexpr int IMG_ERR_TRUNCATED = -5;    // pixel data or RLE stream ends early
constexpr int IMG_ERR_NO_MEMORY = -6;    // size overflows, exceeds the cap, or allocation failed
constexpr int IMG_ERR_BAD_IMAGE = -7;    // unusable descriptor: null, never allocated,
                                         // unsupported depth or size asked of allocimage
constexpr int IMG_ERR_MISMATCH = -8;     // descriptor does not fit the file or the other image
constexpr int IMG_ERR_WRITE = -9;        // target cannot be created or fully written
constexpr int IMG_ERR_TOO_LARGE = -10;   // wider or taller than JPEG's 65,500 pixels
constexpr int IMG_ERR_READ = -11;        // the file failed to read part-way (I/O error)

// The largest width or height a JPEG can carry.
constexpr int IMG_JPEG_MAX_SIDE = 65500;

// A short English description of a result code, for tools and logs.
const char* imaging_strerror(int code);

// The system's error number (errno) behind the last failure of bmpinfo,
// loadbmp, savejpg or savejpg_pending on this thread ("No space left on
// device" and the like); 0 when that failure had no system reason.
int imaging_os_error();

// What the picture that the last allocimage or loadbmp on this thread refused
// with IMG_ERR_NO_MEMORY would have needed, in bytes: its buffer and, for
// loadbmp, what it holds beside it. 0 when that call (or a later bmpinfo)
// did not fail for memory.
unsigned long long imaging_bytes_needed();

// Buffers of finished images are kept for the next ones (a few, 256 MiB at
// most); a caller that has no more to convert for a while gives them back.
void imaging_release_spare_memory();

// ---- Windows bitmap structures ------------------------------------------

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    std::uint32_t biSize;  // size of the header as stored in the file (12, 16..64, 40, 52, 56, 108, 124)
    std::int32_t biWidth;
    std::int32_t biHeight;  // negative: rows stored top-down
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};

struct RGBQUAD {
    std::uint8_t rgbBlue;
    std::uint8_t rgbGreen;
    std::uint8_t rgbRed;
    std::uint8_t rgbReserved;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == 4);

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_JPEG = 4;
constexpr std::uint32_t BI_PNG = 5;
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

// ---- Image descriptor ------------------------------------------------------

namespace imaging {
struct ImageData;
struct ImageAccess;
}  // namespace imaging

// An image buffer in bitmap layout: rows padded to 4 bytes, at 1, 2, 4, 8 or
// 24 bits per pixel (24-bit pixels are B, G, R), with a palette for the
// indexed depths. A value-initialised descriptor is empty.
//
// A descriptor is a handle: copies made by copyimgdes (or by copying the
// object) describe the same image, which is released when the last handle
// to it is freed or destroyed, so freeing twice, freeing an empty descriptor,
// or freeing both sides of a copy is safe.
class ImageDescriptor {
public:
    bool allocated() const { return d_ != nullptr; }
    int width() const;
    int height() const;
    int depth() const;
    std::span<const RGBQUAD> palette() const;  // 2^depth entries for indexed depths
    std::int32_t xPelsPerMeter() const;
    std::int32_t yPelsPerMeter() const;

private:
    friend struct imaging::ImageAccess;
    std::shared_ptr<imaging::ImageData> d_;
};

// ---- How bitmaps are read ----------------------------------------------------
//
// - Headers: core (12 bytes), OS/2 2.x (16 to 64, possibly cut short), info
//   (40) and its V2 to V5 successors (52, 56, 108, 124). biSizeImage is never
//   trusted.
// - Depths: 1, 2, 4 and 8 bits through a palette; 16 and 32 bits through
//   channel masks; 24 bits as B, G, R; 64 bits as B, G, R, A in linear light
//   (signed 16-bit, 8192 = 1.0, clamped to 0..1), encoded to sRGB.
// - Compression: none, RLE8 at 8 bits, RLE4 at 4 bits, bit fields and alpha
//   bit fields at 16 and 32 bits; in OS/2 headers, RLE24 at 24 bits and
//   Huffman 1D (T.4 modified Huffman, white index 0) at 1 bit. An embedded
//   PNG loads as 24-bit colour (gamma and profile chunks ignored); an
//   embedded JPEG too, after being decoded whole with no warning from
//   libjpeg but for a newer JFIF version or a damaged profile, and savejpg
//   writes its bytes out unchanged: as far as the header's size says, or to
//   its end marker when the size is 0. Either stream is read only as far as
//   16 bytes a pixel and 64 MiB more, and its bit count is reported as 0.
//   CMYK is IMG_ERR_UNSUPPORTED.
// - A negative height means rows stored top-down; an RLE or Huffman bitmap cannot be.
// - The palette has biClrUsed entries (0: 2^bits), but never more than the
//   depth allows nor than fit before the pixel data. Missing entries are
//   black, and so are indices past the palette.
// - A pixel data offset of 0 means the pixels follow the palette.
// - Masks may have any width and position but must fit the pixel and not
//   overlap; a channel of n bits scales to 8 bits as round(v * 255 / (2^n - 1)).
//   Uncompressed 16- and 32-bit pixels use the masks 5-5-5 and 8-8-8, plus a
//   V3-or-later header's alpha mask where it misses the colour bits.
// - Alpha is composited onto white, but only when some pixel has a non-zero
//   alpha: an all-zero alpha channel is a writer that never filled it in.
//   64-bit colours are encoded to sRGB first and then composited as 32-bit
//   ones are, so a picture flattens alike at either depth.
// - RLE pixels the stream never sets keep index 0; a stream may end early
//   with its end marker, or without one once every row is drawn; what follows
//   the last row is not read, but a run drawn right after it is damage. A run
//   into the row's padding is cut at the edge (ImageMagick writes them); runs
//   past the padding or the top are IMG_ERR_CORRUPT, and so is a stream
//   that goes on past 4 x (padded width + 1) x (height + 1) bytes, more than
//   any legal encoding of the picture takes.
// - The last uncompressed row may lack its padding; any other shortfall is
//   IMG_ERR_TRUNCATED.
// - An embedded colour profile (V5) travels into the JPEG when it lies inside
//   the file and fits a JPEG's 255 segments; otherwise it is dropped. (An
//   embedded JPEG goes out as it is, with its own profile, if any.)
// - Every byte is read into the program's own memory while loadbmp runs: a
//   file that shrinks or fails meanwhile gives IMG_ERR_TRUNCATED or
//   IMG_ERR_READ, and nothing the file does afterwards affects the picture.

// ---- The seven functions ----------------------------------------------------

// Fills *bdat from the bitmap's header, widening core (OS/2) headers; the
// height keeps its stored sign. Fails on a missing file, a file that is not a
// bitmap, a header that makes no sense, or a variant loadbmp cannot decode.
int bmpinfo(const char* filename, BITMAPINFOHEADER* bdat);

// Gives *image a zeroed buffer of width x height at bppixel (1, 2, 4, 8, 24).
// Indexed depths get a gray ramp palette. Anything *image held is released.
// A side over 65,500 pixels, more than a JPEG holds, is IMG_ERR_TOO_LARGE
// before any memory is taken. A buffer larger than half the machine's memory,
// or one the system will not give, is IMG_ERR_NO_MEMORY (see
// imaging_bytes_needed), so that an absurd header cannot get the process killed.
int allocimage(ImageDescriptor* image, int width, int height, int bppixel);

// Reads the bitmap into the allocated *image, whose width and height must be
// the file's. Sources of 16 bits or more load into a 24-bit buffer, with real
// alpha composited onto white; indexed sources load into an indexed buffer at
// least as deep as the file (or into a 24-bit one) and bring their palette.
// Every byte is read before it returns. (16-, 32- and 64-bit pixels are kept
// as the file has them, and savejpg encodes them from there.) Those rows, like
// an RLE stream as it is read, count with the buffer against allocimage's
// limit: over it, IMG_ERR_NO_MEMORY. An RLE stream is read only as far as
// the picture needs, and never past what the largest legal encoding of
// width x height pixels takes.
int loadbmp(const char* filename, ImageDescriptor* image);

// Fills the allocated 8-bit *desimg from the 1-bit *srcimg of the same size.
// (It keeps a copy of the packed rows, and savejpg encodes them from there.)
int convert1bitto8bit(const ImageDescriptor* srcimg, ImageDescriptor* desimg);

// Makes *desimg describe the same image as *srcimg.
void copyimgdes(const ImageDescriptor* srcimg, ImageDescriptor* desimg);

// How savejpg encodes, as cjpeg's options of the same names: the bytes are
// those of `cjpeg -quality Q [-sample ..] [-progressive] [-optimize]
// [-grayscale]` of the same bitmap. A quality alone is the rest at their
// defaults (the window's JPEGs).
enum class JpegSampling {
    Default,  // no -sample: 4:2:0 in colour, one sample a pixel in gray
    S444,     // -sample 1x1
    S422,     // -sample 2x1
    S420,     // -sample 2x2
};
struct JpegOptions {
    JpegOptions(int quality = 75) : quality(quality) {}  // implicit: a quality alone is one
    int quality;  // 1..100, clamped
    // Sets the luminance's factors in a gray JPEG too, as cjpeg does: only
    // its header changes.
    JpegSampling sampling = JpegSampling::Default;
    bool progressive = false;
    bool optimize = false;  // Huffman tables made for the picture
    bool grayscale = false;  // one component, the luminance
    bool operator==(const JpegOptions&) const = default;
};

// Writes *image as a JFIF file at quality 1..100 (clamped). Gray palettes
// give a grayscale JPEG. The target is replaced only once the whole file is
// written; on failure no partial file is left.
int savejpg(const char* filename, const ImageDescriptor* image, int quality);
int savejpg(const char* filename, const ImageDescriptor* image, const JpegOptions& options);

// Whether savejpg writes *image as a grayscale JPEG: an indexed image whose
// palette holds only grays. (Asked for grayscale, any image is.)
bool savesAsGray(const ImageDescriptor* image);

// Releases *image's hold on its buffer; the descriptor becomes empty.
void freeimage(ImageDescriptor* image);

// ---- Saving in two steps ------------------------------------------------------

namespace imaging {
class TargetFile;
}

// A JPEG written in full but not yet under its name, so that a caller
// converting several files at once decides in its own order which ones
// appear. commit() gives it its name, replacing any older file unless
// `replace` is false (then an existing file stays and commit fails with
// EEXIST); a pending JPEG dropped without commit leaves nothing behind.
// Failures keep their system reason for imaging_os_error.
class PendingJpeg {
public:
    PendingJpeg();
    PendingJpeg(PendingJpeg&&) noexcept;
    PendingJpeg& operator=(PendingJpeg&&) noexcept;
    ~PendingJpeg();
    bool pending() const { return file_ != nullptr; }
    // 1 when the file at `path` holds exactly this JPEG's bytes, 0 when it
    // differs, -1 when either cannot be read: how a run that was interrupted
    // recognises a target it had already written from the same bitmap.
    int sameBytesAs(const char* path) const;
    // The permission bits and modification time it is to have once named (as cp -p).
    bool setModeAndTime(unsigned mode, long long seconds, long nanoseconds);
    bool commit(bool replace = true);

private:
    friend int savejpg_pending(const char*, const ImageDescriptor*, const JpegOptions&, PendingJpeg*);
    std::unique_ptr<imaging::TargetFile> file_;
};

// savejpg up to the last step: *out holds the complete JPEG for `filename`.
int savejpg_pending(const char* filename, const ImageDescriptor* image, int quality, PendingJpeg* out);
int savejpg_pending(const char* filename, const ImageDescriptor* image, const JpegOptions& options, PendingJpeg* out);
