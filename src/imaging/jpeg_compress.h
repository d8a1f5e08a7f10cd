// libjpeg's errors as a false return, for every compressor we make.
#pragma once

#include <cstdio>  // jpeglib.h needs FILE and size_t
#include <jpeglib.h>
#include <type_traits>

namespace imaging {

// Creates a quiet compressor, runs `work` on it and destroys it, however
// work ends. An error jumps from libjpeg straight back here, past work's
// frames: work must hold nothing that needs destroying. False on an error.
bool compressGuarded(void (*work)(j_compress_ptr cinfo, void* context), void* context);

template <class Work>
bool compressGuarded(Work&& work) {
    using W = std::remove_reference_t<Work>;
    return compressGuarded([](j_compress_ptr cinfo, void* w) { (*static_cast<W*>(w))(cinfo); }, &work);
}

}  // namespace imaging
