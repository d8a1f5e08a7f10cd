#include "image_rows.h"

#include "image_data.h"
#include "index_rows.h"
#include "pixel_rows.h"

#include <cstring>

namespace support {

using namespace imaging;

ImageRows rowsOf(const ImageDescriptor& image) {
    ImageRows out;
    if (!image.allocated()) return out;
    const ImageData& d = ImageAccess::data(image);
    out.stride = d.stride;
    out.bytes.assign(d.stride * static_cast<std::size_t>(d.height), 0);
    if (std::holds_alternative<contents::Filled>(d.contents) || std::holds_alternative<contents::Untouched>(d.contents) ||
        std::holds_alternative<contents::Jpeg>(d.contents))
        std::memcpy(out.bytes.data(), d.pixels.get(), out.bytes.size());
    if (const auto* packed = std::get_if<contents::Packed>(&d.contents)) {
        const IndexExpander unpack = IndexExpander::indices(packed->rows->depth);
        for (int y = 0; y < d.height; ++y) unpack.expand(packed->rows->row(y), d.width, out.bytes.data() + y * out.stride);
    }
    if (const auto* kept = std::get_if<contents::Kept>(&d.contents)) {
        std::vector<std::uint8_t> bgrx(static_cast<std::size_t>(d.width) * 4);
        for (int y = 0; y < d.height; ++y) {
            kept->rows->decoder.decode(kept->rows->row(y), d.width, bgrx.data());
            for (int x = 0; x < d.width; ++x) std::memcpy(&out.bytes[y * out.stride + 3 * x], &bgrx[4 * x], 3);
        }
    }
    return out;
}

}  // namespace support
