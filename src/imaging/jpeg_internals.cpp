#include "jpeg_internals.h"

#ifdef IMAGING_LIBJPEG_INSIDES
#include <jpegint.h>
#include <utility>
#endif

namespace imaging {

ColourConverter replaceColourConverter([[maybe_unused]] j_compress_ptr cinfo, [[maybe_unused]] ColourConverter ours) {
#ifdef IMAGING_LIBJPEG_INSIDES
    if (cinfo->global_state != CSTATE_SCANNING || cinfo->cconvert == nullptr) return nullptr;
    return std::exchange(cinfo->cconvert->color_convert, ours);
#else
    return nullptr;
#endif
}

bool colourConverterReplaceable() {
#ifdef IMAGING_LIBJPEG_INSIDES
    return true;
#else
    return false;
#endif
}

}  // namespace imaging
