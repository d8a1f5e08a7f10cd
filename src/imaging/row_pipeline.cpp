#include "row_pipeline.h"

#include "second_processor.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace imaging {
namespace {

constexpr int kRowsPerBlock = 8;
constexpr int kSlots = 4;
constexpr int kNone = 1 << 30;  // beyond every block: nothing left to claim

}  // namespace

// What the encoder and the helper share; it lives as long as either needs it.
struct RowPipeline::Shared {
    Shared(int height, std::size_t rowBytes, Fill fill)
        : height(height), blocks((height + kRowsPerBlock - 1) / kRowsPerBlock), rowBytes(rowBytes),
          fill(std::move(fill)), rows(rowBytes * kRowsPerBlock * kSlots) {
        for (std::atomic<int>& r : ready) r.store(-1);
    }

    std::uint8_t* slot(int block) { return rows.data() + static_cast<std::size_t>(block % kSlots) * kRowsPerBlock * rowBytes; }

    void fillBlock(int block) {
        std::uint8_t* out = slot(block);
        const int last = std::min(height, (block + 1) * kRowsPerBlock);
        for (int y = block * kRowsPerBlock; y < last; ++y, out += rowBytes) fill(y, out);
        ready[block % kSlots].store(block, std::memory_order_release);
        ready[block % kSlots].notify_all();
    }

    void done() {
        if (working.fetch_sub(1) == 1) working.notify_all();
    }

    // The helper claims blocks in turn, counting itself as working before it
    // claims, so that once the encoder has stopped further claims and sees
    // nobody working, no block can still be filled.
    void help() {
        for (;;) {
            working.fetch_add(1);
            const int block = next.fetch_add(1);
            if (block >= blocks) return done();
            // Its slot is free once the encoder has left the block that held it before.
            for (int r = released.load(std::memory_order_acquire); r < block - kSlots + 1;
                 r = released.load(std::memory_order_acquire))
                released.wait(r);
            if (stop.load()) return done();
            fillBlock(block);
            done();
        }
    }

    const int height;
    const int blocks;
    const std::size_t rowBytes;
    const Fill fill;
    std::vector<std::uint8_t> rows;
    std::atomic<int> next{0};  // the first block nobody has claimed
    std::atomic<int> released{0};  // blocks below this one are no longer read
    std::atomic<int> ready[kSlots];  // the block each slot holds, once filled
    std::atomic<int> working{0};
    std::atomic<bool> stop{false};
};

RowPipeline::RowPipeline(int height, std::size_t rowBytes, Fill fill)
    : shared_(std::make_shared<Shared>(height, rowBytes, std::move(fill))) {
    startHelper([shared = shared_] { shared->help(); });
}

RowPipeline::~RowPipeline() {
    Shared& s = *shared_;
    s.stop.store(true);
    s.next.store(kNone);
    s.released.store(kNone);
    s.released.notify_all();
    for (int w = s.working.load(); w != 0; w = s.working.load()) s.working.wait(w);
}

bool RowPipeline::worthwhile(std::uint64_t pixels) {
    // Below this, starting the thread costs about what it saves.
    return pixels >= 256 * 1024 && processorFree();
}

const std::uint8_t* RowPipeline::row(int y) {
    Shared& s = *shared_;
    const int block = y / kRowsPerBlock;
    if (block != current_) {
        s.released.store(block, std::memory_order_release);
        s.released.notify_all();
        current_ = block;
    }
    std::atomic<int>& ready = s.ready[block % kSlots];
    if (ready.load(std::memory_order_acquire) != block) {
        int unclaimed = block;
        if (s.next.compare_exchange_strong(unclaimed, block + 1)) {
            s.fillBlock(block);
        } else {
            for (int held = ready.load(std::memory_order_acquire); held != block; held = ready.load(std::memory_order_acquire))
                ready.wait(held);
        }
    }
    return s.slot(block) + static_cast<std::size_t>(y % kRowsPerBlock) * s.rowBytes;
}

}  // namespace imaging
