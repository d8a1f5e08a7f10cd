// A loaded picture's pixels in its buffer's layout (rows padded to 4 bytes,
// the top row first), wherever the imaging layer keeps them, for tests and
// benchmarks to look at.
#pragma once

#include "imaging.h"

#include <cstdint>
#include <vector>

namespace support {

struct ImageRows {
    std::vector<std::uint8_t> bytes;
    std::size_t stride = 0;
    const std::uint8_t* row(int y) const { return bytes.data() + static_cast<std::size_t>(y) * stride; }
};

ImageRows rowsOf(const ImageDescriptor& image);

}  // namespace support
