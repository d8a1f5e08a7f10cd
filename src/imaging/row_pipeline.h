// Rows that need work before libjpeg can take them (through a palette, or
// decoded from 16 or 64 bits) are prepared on a second processor while the
// encoder works on the rows before them. The encoder never waits on a slow
// helper: a block nobody has started yet, it prepares itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace imaging {

class RowPipeline {
public:
    // fill(y, out) writes image row y (0 = top) into `out`, rowBytes long;
    // it must be safe to call from two threads at once for different rows.
    using Fill = std::function<void(int y, std::uint8_t* out)>;
    RowPipeline(int height, std::size_t rowBytes, Fill fill);
    ~RowPipeline();
    RowPipeline(const RowPipeline&) = delete;
    RowPipeline& operator=(const RowPipeline&) = delete;

    // Row y, ready; rows are asked for in order, and a row stays valid until
    // a row of a later block is asked for.
    const std::uint8_t* row(int y);

    // Whether a helper is worth starting for an image of this many pixels.
    static bool worthwhile(std::uint64_t pixels);

private:
    static constexpr int kRowsPerBlock = 8;
    static constexpr int kSlots = 4;

    void helper();
    void fillBlock(int block);
    std::uint8_t* slot(int block) { return rows_.data() + static_cast<std::size_t>(block % kSlots) * kRowsPerBlock * rowBytes_; }

    int height_;
    int blocks_;
    std::size_t rowBytes_;
    Fill fill_;
    std::vector<std::uint8_t> rows_;
    std::atomic<int> nextBlock_{0};  // the next block nobody has claimed
    std::atomic<int> released_{0};  // blocks below this one are no longer read
    std::atomic<int> ready_[kSlots];  // the block each slot holds, once filled
    std::atomic<bool> stop_{false};
    int current_ = -1;  // the block the encoder reads
    std::thread thread_;
};

}  // namespace imaging
