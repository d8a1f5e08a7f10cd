#include "second_processor.h"

#include "fast_paths.h"

#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

namespace imaging {
namespace {

std::atomic<int> g_busy{0};

// Starts fn on a detached thread; false if no thread could be had.
bool startHelper(std::function<void()> fn) {
    try {
        std::thread(std::move(fn)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

// What a shared piece of work and its helper hold in common; it lives as
// long as either of them needs it.
struct Shared {
    explicit Shared(int pieces, const std::function<void(int)>& work) : pieces(pieces), work(work) {}
    const int pieces;
    std::function<void(int)> work;
    std::atomic<int> next{0};  // the first piece nobody has claimed
    std::atomic<int> working{0};  // threads between claiming and finishing a piece
};

// Claims pieces until none are left. A thread counts itself as working
// before it claims, so the caller, once it sees no piece left and nobody
// working, knows no piece can still start.
void work(Shared& s) {
    for (;;) {
        s.working.fetch_add(1);
        const int piece = s.next.fetch_add(1);
        if (piece >= s.pieces) {
            if (s.working.fetch_sub(1) == 1) s.working.notify_all();
            return;
        }
        s.work(piece);
        if (s.working.fetch_sub(1) == 1) s.working.notify_all();
    }
}

}  // namespace

BusyConversion::BusyConversion() { g_busy.fetch_add(1); }
BusyConversion::~BusyConversion() { g_busy.fetch_sub(1); }

bool processorFree() { return fastPaths().secondProcessor && g_busy.load() < machineProcessors(); }

void shareWork(int pieces, const std::function<void(int)>& fn) {
    auto shared = std::make_shared<Shared>(pieces, fn);
    if (pieces > 1 && processorFree() && startHelper([shared] { work(*shared); })) notePathUse(PathUse::HelperThread);
    work(*shared);
    for (int w = shared->working.load(); w != 0; w = shared->working.load()) shared->working.wait(w);
}

}  // namespace imaging
