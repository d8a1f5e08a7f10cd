// The rows savejpg hands libjpeg, for every kind of image.
#pragma once

#include "image_data.h"

#include <cstdio>  // jpeglib.h needs FILE and size_t
#include <jpeglib.h>
#include <memory>

namespace imaging {

// Pixel rows as libjpeg wants them, from the top down.
class RowSource {
public:
    RowSource(J_COLOR_SPACE space, int components) : space(space), components(components) {}
    virtual ~RowSource() = default;
    virtual JSAMPROW row(int y) = 0;
    // Called once jpeg_start_compress has set the compressor up.
    virtual void started(j_compress_ptr) {}
    const J_COLOR_SPACE space;
    const int components;
};

// The rows of a loaded image for a JPEG made as `options` say; `gray` as
// savesAsGray says.
std::unique_ptr<RowSource> rowsOf(const ImageData& d, bool gray, const JpegOptions& options);

}  // namespace imaging
