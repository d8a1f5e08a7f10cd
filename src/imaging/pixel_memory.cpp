// Memory for pixels. Touching pages the process has not used before costs
// more than reading and decoding them (several milliseconds for a screen-
// sized image), so large buffers of freed images are kept for the next image
// of a similar size: a batch of photos from one camera reuses one buffer.
#include "fast_paths.h"
#include "pixel_memory.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define IMAGING_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define IMAGING_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef IMAGING_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#endif

namespace imaging {
namespace {

// AddressSanitizer sees only malloc's blocks. Of our own mappings it is told
// which bytes a picture may use, so that it catches a write past the
// picture's size inside a larger recycled buffer, past a mapping's end (into
// a guard zone mapped behind each one) and into a buffer given back.
#ifdef IMAGING_ADDRESS_SANITIZER
constexpr std::size_t kGuard = 64 * 1024;
void lendOut(void* bytes, std::size_t size, std::size_t capacity) {
    ASAN_UNPOISON_MEMORY_REGION(bytes, size);
    ASAN_POISON_MEMORY_REGION(static_cast<char*>(bytes) + size, capacity + kGuard - size);
}
void putAway(void* bytes, std::size_t capacity) { ASAN_POISON_MEMORY_REGION(bytes, capacity + kGuard); }
#else
constexpr std::size_t kGuard = 0;
void lendOut(void*, std::size_t, std::size_t) {}
void putAway(void*, std::size_t) {}
#endif
void unmap(void* bytes, std::size_t capacity) {
#ifdef IMAGING_ADDRESS_SANITIZER
    ASAN_UNPOISON_MEMORY_REGION(bytes, capacity + kGuard);  // whatever is mapped here next starts clean
#endif
    ::munmap(bytes, capacity + kGuard);
}

// Smaller buffers come from malloc, which recycles them by itself.
constexpr std::size_t kMapFrom = 256 * 1024;
// Huge pages make the first touch of a large buffer several times cheaper.
constexpr std::size_t kHugeFrom = 2 * 1024 * 1024;
// What may lie idle between images: a few buffers, never much memory.
constexpr std::size_t kSpareCount = 4;
constexpr std::size_t kSpareBytes = std::size_t{256} << 20;

class SpareBuffers {
public:
    // A kept buffer of at least `size` bytes, and not wastefully larger.
    void* take(std::size_t size, std::size_t& capacity) {
        const std::lock_guard<std::mutex> lock(mutex_);
        auto best = spares_.end();
        for (auto it = spares_.begin(); it != spares_.end(); ++it)
            if (it->capacity >= size && it->capacity / 2 <= size && (best == spares_.end() || it->capacity < best->capacity))
                best = it;
        if (best == spares_.end()) {
            // None fits: give the idle ones back before the kernel hands out new pages.
            releaseLocked();
            return nullptr;
        }
        void* bytes = best->bytes;
        capacity = best->capacity;
        bytes_ -= best->capacity;
        spares_.erase(best);
        return bytes;
    }

    void give(void* bytes, std::size_t capacity) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (fastPaths().recycling && spares_.size() < kSpareCount && bytes_ + capacity <= kSpareBytes) {
                putAway(bytes, capacity);
                spares_.push_back({bytes, capacity});
                bytes_ += capacity;
                return;
            }
        }
        unmap(bytes, capacity);
    }

    void release() {
        const std::lock_guard<std::mutex> lock(mutex_);
        releaseLocked();
    }

private:
    void releaseLocked() {
        for (const Spare& s : spares_) unmap(s.bytes, s.capacity);
        spares_.clear();
        bytes_ = 0;
    }

    struct Spare {
        void* bytes;
        std::size_t capacity;
    };
    std::mutex mutex_;
    std::vector<Spare> spares_;
    std::size_t bytes_ = 0;
};

// Never destroyed: images may be freed while static objects go away.
SpareBuffers& spares() {
    static SpareBuffers* s = new SpareBuffers;
    return *s;
}

std::size_t pageRounded(std::size_t size) {
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

}  // namespace

PixelMemory pixelMemory(std::size_t size) {
    if (size < kMapFrom) {
        void* p = std::calloc(std::max<std::size_t>(size, 1), 1);
        if (p == nullptr) return {};
        return {std::shared_ptr<std::uint8_t>(static_cast<std::uint8_t*>(p), [](std::uint8_t* q) { std::free(q); }), true};
    }
    const auto keep = [](std::uint8_t* q, std::size_t capacity) {
        return std::shared_ptr<std::uint8_t>(q, [capacity](std::uint8_t* r) { spares().give(r, capacity); });
    };
    std::size_t capacity = 0;
    const FastPaths paths = fastPaths();
    if (void* p = paths.recycling ? spares().take(size, capacity) : nullptr) {
        lendOut(p, size, capacity);
        notePathUse(PathUse::RecycledBuffer);
        return {keep(static_cast<std::uint8_t*>(p), capacity), false};
    }
    const bool huge = size >= kHugeFrom && paths.hugePages;
    // The kernel places a mapping on a huge-page boundary only when its
    // length is a whole number of huge pages; else its first and last
    // stretches get small pages.
    capacity = huge ? (size + kHugeFrom - 1) / kHugeFrom * kHugeFrom : pageRounded(size);
    void* p = ::mmap(nullptr, capacity + kGuard, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return {};
    lendOut(p, size, capacity);
    if (huge) {
        ::madvise(p, capacity, MADV_HUGEPAGE);
        notePathUse(PathUse::HugePages);
    }
    return {keep(static_cast<std::uint8_t*>(p), capacity), true};
}

void prefault(std::uint8_t* bytes, std::size_t size) {
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    if (size >= kMapFrom && reinterpret_cast<std::uintptr_t>(bytes) % page == 0) ::madvise(bytes, size, MADV_POPULATE_WRITE);
}

}  // namespace imaging

void imaging_release_spare_memory() { imaging::spares().release(); }
