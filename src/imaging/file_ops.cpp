#include "file_ops.h"

#include "testing_hooks.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <unistd.h>

namespace {

std::atomic<long long> g_failReadsFrom{-1};
std::atomic<long long> g_failWritesAfter{-1};

// A read fails whole when it would reach the failing offset, as a bad sector would.
bool reachesBadSpot(off_t offset, std::size_t count) {
    const long long from = g_failReadsFrom;
    return from >= 0 && offset >= 0 &&
           static_cast<unsigned long long>(offset) + count > static_cast<unsigned long long>(from);
}

ssize_t failingPread(int fd, void* buf, std::size_t count, off_t offset) {
    if (reachesBadSpot(offset, count)) return errno = EIO, -1;
    return ::pread(fd, buf, count, offset);
}

ssize_t failingPreadv(int fd, const iovec* iov, int iovcnt, off_t offset) {
    std::size_t count = 0;
    for (int i = 0; i < iovcnt; ++i) count += iov[i].iov_len;
    if (reachesBadSpot(offset, count)) return errno = EIO, -1;
    return ::preadv(fd, iov, iovcnt, offset);
}

// A full disk: what fits before the limit is written (a short write), then
// ENOSPC. The file's offset tells how much of it is written, as the JPEG goes
// out in order from its start.
ssize_t failingWrite(int fd, const void* buf, std::size_t count) {
    const long long limit = g_failWritesAfter;
    if (limit < 0) return ::write(fd, buf, count);
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0) return -1;
    if (static_cast<unsigned long long>(at) + count <= static_cast<unsigned long long>(limit))
        return ::write(fd, buf, count);
    if (at < limit) return ::write(fd, buf, static_cast<std::size_t>(limit - at));
    return errno = ENOSPC, -1;
}

constexpr imaging::FileOps kReal{::pread, ::preadv, ::write};
constexpr imaging::FileOps kFailing{failingPread, failingPreadv, failingWrite};
std::atomic<const imaging::FileOps*> g_ops{&kReal};

// The failing calls while either hook is set. They pass through while their
// own hook is off, so a thread still holding the other table is right either way.
void setHook(std::atomic<long long>& hook, long long value) {
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    hook = value;
    g_ops = g_failReadsFrom >= 0 || g_failWritesAfter >= 0 ? &kFailing : &kReal;
}

}  // namespace

void imaging_fail_reads_from(long long offset) { setHook(g_failReadsFrom, offset); }
void imaging_fail_writes_after(long long bytes) { setHook(g_failWritesAfter, bytes); }

namespace imaging {

const FileOps& fileOps() { return *g_ops.load(std::memory_order_acquire); }

}  // namespace imaging
