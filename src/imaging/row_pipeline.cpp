#include "row_pipeline.h"

#include <algorithm>
#include <climits>
#include <system_error>

namespace imaging {

RowPipeline::RowPipeline(int height, std::size_t rowBytes, Fill fill)
    : height_(height), blocks_((height + kRowsPerBlock - 1) / kRowsPerBlock), rowBytes_(rowBytes),
      fill_(std::move(fill)), rows_(rowBytes * kRowsPerBlock * kSlots) {
    for (std::atomic<int>& r : ready_) r.store(-1);
    try {
        thread_ = std::thread([this] { helper(); });
    } catch (const std::system_error&) {
        // No thread to be had: the encoder prepares every block itself.
    }
}

RowPipeline::~RowPipeline() {
    stop_.store(true);
    released_.store(INT_MAX);
    released_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool RowPipeline::worthwhile(std::uint64_t pixels) {
    static const bool twoProcessors = std::thread::hardware_concurrency() > 1;
    // Below this, starting the thread costs about what it saves.
    return twoProcessors && pixels >= 256 * 1024;
}

void RowPipeline::fillBlock(int block) {
    std::uint8_t* out = slot(block);
    const int last = std::min(height_, (block + 1) * kRowsPerBlock);
    for (int y = block * kRowsPerBlock; y < last; ++y, out += rowBytes_) fill_(y, out);
    ready_[block % kSlots].store(block, std::memory_order_release);
    ready_[block % kSlots].notify_all();
}

void RowPipeline::helper() {
    while (!stop_.load()) {
        const int block = nextBlock_.fetch_add(1);
        if (block >= blocks_) return;
        // Its slot is free once the encoder has left the block that held it before.
        for (int r = released_.load(std::memory_order_acquire); r < block - kSlots + 1;
             r = released_.load(std::memory_order_acquire)) {
            if (stop_.load()) return;
            released_.wait(r);
        }
        if (stop_.load()) return;
        fillBlock(block);
    }
}

const std::uint8_t* RowPipeline::row(int y) {
    const int block = y / kRowsPerBlock;
    if (block != current_) {
        released_.store(block, std::memory_order_release);
        released_.notify_all();
        current_ = block;
    }
    std::atomic<int>& ready = ready_[block % kSlots];
    if (ready.load(std::memory_order_acquire) != block) {
        int unclaimed = block;
        if (nextBlock_.compare_exchange_strong(unclaimed, block + 1)) {
            fillBlock(block);
        } else {
            for (int held = ready.load(std::memory_order_acquire); held != block; held = ready.load(std::memory_order_acquire))
                ready.wait(held);
        }
    }
    return slot(block) + static_cast<std::size_t>(y % kRowsPerBlock) * rowBytes_;
}

}  // namespace imaging
