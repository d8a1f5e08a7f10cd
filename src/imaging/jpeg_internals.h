// The one way into libjpeg's private modules. It is built only against the
// libjpeg-turbo it was written for (src/imaging/CMakeLists.txt checks);
// elsewhere nothing is replaced and libjpeg converts every row itself.
#pragma once

#include <cstdio>  // jpeglib.h needs FILE and size_t
#include <jpeglib.h>

namespace imaging {

// A colour converter as libjpeg calls it: `rows` input rows to the Y, Cb and
// Cr planes of `out`, at row `outRow`.
using ColourConverter = void (*)(j_compress_ptr cinfo, JSAMPARRAY in, JSAMPIMAGE out, JDIMENSION outRow, int rows);

// Puts `ours` in place of the colour converter of a compressor that
// jpeg_start_compress has set up, and returns the one it replaced; null, and
// nothing replaced, where this build does not know libjpeg's insides.
ColourConverter replaceColourConverter(j_compress_ptr cinfo, ColourConverter ours);

// Whether this build knows libjpeg's insides, so that the above can work.
bool colourConverterReplaceable();

}  // namespace imaging
