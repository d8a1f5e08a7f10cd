// (placeholder until the file-operation seam lands)
#include "file_ops.h"
#include "testing_hooks.h"
#include <atomic>
#include <cerrno>
#include <unistd.h>
namespace {
std::atomic<long long> g_failReadsFrom{-1};
ssize_t failingPread(int fd, void* b, std::size_t n, off_t o) {
    const long long f = g_failReadsFrom;
    if (f >= 0 && o + static_cast<long long>(n) > f) return errno = EIO, -1;
    return ::pread(fd, b, n, o);
}
ssize_t failingPreadv(int fd, const iovec* v, int c, off_t o) {
    const long long f = g_failReadsFrom;
    long long n = 0;
    for (int i = 0; i < c; ++i) n += static_cast<long long>(v[i].iov_len);
    if (f >= 0 && o + n > f) return errno = EIO, -1;
    return ::preadv(fd, v, c, o);
}
const imaging::FileOps kOps{failingPread, failingPreadv, ::write};
}  // namespace
void imaging_fail_reads_from(long long offset) { g_failReadsFrom = offset; }
const imaging::FileOps& imaging::fileOps() { return kOps; }
