// Bitmaps whose pixels are a whole JPEG or PNG file.
#include "bmp_decode.h"

#include "source_file.h"

namespace imaging {

std::uint64_t embeddedWorkingBytes(const BmpFormat& f) { return f.streamBytes; }

int decodeEmbedded(const SourceFile&, const BmpFormat&, ImageData&) { return IMG_ERR_UNSUPPORTED; }

}  // namespace imaging
