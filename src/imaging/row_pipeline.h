// Rows that need work before libjpeg can take them (through a palette, or
// decoded from 16 or 64 bits) are prepared on a second processor while the
// encoder works on the rows before them. The encoder never waits on a helper
// that is slow to start: a block nobody has begun, it prepares itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace imaging {

class RowPipeline {
public:
    // fill(y, out) writes image row y (0 = top) into `out`, rowBytes long;
    // it must be safe to call from two threads at once for different rows.
    using Fill = std::function<void(int y, std::uint8_t* out)>;
    RowPipeline(int height, std::size_t rowBytes, Fill fill);
    ~RowPipeline();  // returns once the helper no longer touches `fill` or its data
    RowPipeline(const RowPipeline&) = delete;
    RowPipeline& operator=(const RowPipeline&) = delete;

    // Row y, ready; rows are asked for in order, and a row stays valid until
    // a row of a later block is asked for.
    const std::uint8_t* row(int y);

    // Whether a helper is worth asking for, for an image of this many pixels.
    static bool worthwhile(std::uint64_t pixels);

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    int current_ = -1;  // the block the encoder reads
};

}  // namespace imaging
