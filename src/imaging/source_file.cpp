#include "source_file.h"

#include "imaging.h"
#include "internal.h"
#include "second_processor.h"
#include "testing_hooks.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <sys/uio.h>
#include <vector>
#include <unistd.h>

namespace {

std::atomic<long long> g_failReadsFrom{-1};

}  // namespace

void imaging_fail_reads_from(long long offset) { g_failReadsFrom = offset; }

namespace imaging {

SourceFile::~SourceFile() {
    if (fd_ >= 0) ::close(fd_);
}

int SourceFile::open(const char* path) {
    if (path == nullptr || fd_ >= 0) return IMG_ERR_OPEN;
    int fd;
    do {
        // Non-blocking, so that a pipe named like a bitmap cannot stall the caller.
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return noteOsError(errno), IMG_ERR_OPEN;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        noteOsError(S_ISDIR(st.st_mode) ? EISDIR : errno);
        ::close(fd);
        return IMG_ERR_OPEN;
    }
    if (!S_ISREG(st.st_mode)) {  // a pipe or a device is there, but it is no bitmap file
        ::close(fd);
        return IMG_ERR_NOT_BMP;
    }
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(st.st_size);
    return IMG_OK;
}

int SourceFile::readSome(std::uint64_t offset, std::uint8_t* out, std::size_t max, std::size_t& got) const {
    got = 0;
    if (fd_ < 0) return IMG_ERR_READ;
    const long long failFrom = g_failReadsFrom;
    while (got < max) {
        const std::uint64_t at = offset + got;
        if (failFrom >= 0 && at + (max - got) > static_cast<std::uint64_t>(failFrom)) return noteOsError(EIO), IMG_ERR_READ;
        // One call moves at most about 2 GiB.
        const std::size_t chunk = std::min<std::size_t>(max - got, std::size_t{1} << 30);
        const ssize_t n = ::pread(fd_, out + got, chunk, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return noteOsError(errno), IMG_ERR_READ;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return IMG_OK;
}

int SourceFile::readAt(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
    std::size_t got = 0;
    if (int rc = readSome(offset, out, count, got)) return rc;
    return got == count ? IMG_OK : IMG_ERR_TRUNCATED;
}

namespace {

constexpr std::size_t kChunk = 256 * 1024;

// A buffer that stays in the cache, for the calling thread.
std::uint8_t* chunkBuffer() {
    thread_local std::unique_ptr<std::uint8_t[]> chunk;
    if (!chunk) chunk.reset(new (std::nothrow) std::uint8_t[kChunk]);
    return chunk.get();
}

}  // namespace

int SourceFile::readRange(std::uint64_t offset, std::uint8_t* out, std::size_t max, bool fresh, std::size_t& got) const {
    // The kernel writing pages the process has never touched costs as much
    // again as the process writing them; through a buffer that stays in the
    // cache, only the process touches them, once.
    std::uint8_t* chunk = fresh && max > kChunk ? chunkBuffer() : nullptr;
    if (chunk == nullptr) return readSome(offset, out, max, got);
    prefault(out, max);
    got = 0;
    while (got < max) {
        const std::size_t want = std::min(kChunk, max - got);
        std::size_t part = 0;
        if (int rc = readSome(offset + got, chunk, want, part)) return rc;
        std::copy_n(chunk, part, out + got);
        got += part;
        if (part < want) break;  // the file ends here
    }
    return IMG_OK;
}

int SourceFile::readInto(std::uint64_t offset, std::uint8_t* out, std::size_t max, bool fresh, std::size_t& got) const {
    // A large read into new pages is shared with a second processor, a piece
    // at a time: touching new pages takes one processor several milliseconds.
    // (Into warm memory, it is a copy that a second thread does not speed up.)
    constexpr std::size_t kShareFrom = std::size_t{4} << 20;
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    if (max < kShareFrom || !fresh || !processorFree()) return readRange(offset, out, max, fresh, got);
    const int pieces = static_cast<int>((max + kPiece - 1) / kPiece);
    std::vector<int> rcs(static_cast<std::size_t>(pieces), IMG_OK);
    std::vector<int> errors(rcs.size(), 0);
    std::vector<std::size_t> gots(static_cast<std::size_t>(pieces), 0);
    shareWork(pieces, [&](int i) {
        const std::size_t at = static_cast<std::size_t>(i) * kPiece;
        const auto k = static_cast<std::size_t>(i);
        rcs[k] = readRange(offset + at, out + at, std::min(kPiece, max - at), fresh, gots[k]);
        if (rcs[k] != IMG_OK) errors[k] = imaging_os_error();
    });
    got = 0;
    for (std::size_t k = 0; k < rcs.size(); ++k) {
        // The system's reason was kept by whichever thread read the piece.
        if (rcs[k] != IMG_OK) return noteOsError(errors[k]), rcs[k];
        got += gots[k];
        if (gots[k] < std::min(kPiece, max - k * kPiece)) break;  // the file ends in this piece
    }
    return IMG_OK;
}

int SourceFile::reverseRows(std::uint64_t offset, std::size_t stride, std::size_t first, std::size_t count,
                            std::size_t rows, std::size_t lastRow, std::uint8_t* out) const {
    // Rows go through a small buffer (a single wide row through one of its own).
    std::unique_ptr<std::uint8_t[]> wide;
    std::uint8_t* chunk = stride <= kChunk ? chunkBuffer() : nullptr;
    if (chunk == nullptr) {
        wide.reset(new (std::nothrow) std::uint8_t[stride]);
        chunk = wide.get();
    }
    if (chunk == nullptr) return IMG_ERR_NO_MEMORY;
    const std::size_t perChunk = std::max<std::size_t>(1, kChunk / stride);
    for (std::size_t i = first; i < first + count; i += perChunk) {
        const std::size_t n = std::min(perChunk, first + count - i);
        std::size_t got = 0;
        if (int rc = readSome(offset + i * stride, chunk, n * stride, got)) return rc;
        const bool last = i + n == rows;
        if (got < n * stride && !(last && got >= (n - 1) * stride + lastRow)) return IMG_ERR_TRUNCATED;
        std::fill(chunk + got, chunk + n * stride, std::uint8_t{0});
        for (std::size_t r = 0; r < n; ++r)
            std::copy_n(chunk + r * stride, stride, out + (rows - 1 - (i + r)) * stride);
    }
    return IMG_OK;
}

int SourceFile::scatterRows(std::uint64_t offset, std::size_t stride, std::size_t rows, std::size_t lastRow,
                            std::uint8_t* out) const {
    // One call places up to kBatch rows, each straight into its place: one
    // copy, by the kernel, as a single read would make.
    constexpr std::size_t kBatch = 512;  // within every system's limit on vectors
    const std::size_t batch = std::min(kBatch, std::max<std::size_t>(1, (std::size_t{1} << 30) / stride));
    std::vector<iovec> iov(batch);
    const long long failFrom = g_failReadsFrom;
    for (std::size_t i = 0; i < rows; i += batch) {
        const std::size_t n = std::min(batch, rows - i);
        for (std::size_t r = 0; r < n; ++r) iov[r] = {out + (rows - 1 - (i + r)) * stride, stride};
        const std::uint64_t at = offset + i * stride;
        const std::size_t want = n * stride;
        if (failFrom >= 0 && at + want > static_cast<std::uint64_t>(failFrom)) return noteOsError(EIO), IMG_ERR_READ;
        ssize_t got;
        do {
            got = ::preadv(fd_, iov.data(), static_cast<int>(n), static_cast<off_t>(at));
        } while (got < 0 && errno == EINTR);
        if (got < 0) return noteOsError(errno), IMG_ERR_READ;
        // Cut short: finish row by row, to find whether the file ends here.
        auto done = static_cast<std::size_t>(got);
        while (done < want) {
            std::uint8_t* row = static_cast<std::uint8_t*>(iov[done / stride].iov_base);
            std::size_t part = 0;
            if (int rc = readSome(at + done, row + done % stride, stride - done % stride, part)) return rc;
            if (part == 0) break;
            done += part;
        }
        if (done < want) {
            const bool last = i + n == rows;
            if (!last || done < want - stride + lastRow) return IMG_ERR_TRUNCATED;
            std::uint8_t* top = static_cast<std::uint8_t*>(iov[n - 1].iov_base);
            std::fill(top + (done - (want - stride)), top + stride, std::uint8_t{0});
        }
    }
    return IMG_OK;
}

int SourceFile::readRowsReversed(std::uint64_t offset, std::size_t stride, std::size_t rows, std::size_t lastRow,
                                 std::uint8_t* out, bool fresh) const {
    // Pieces of about a megabyte, shared with a second processor when the
    // rows go into new memory.
    constexpr std::size_t kShareFrom = std::size_t{4} << 20;
    const std::size_t perPiece = std::max<std::size_t>(1, (std::size_t{1} << 20) / stride);
    const std::size_t pieces = (rows + perPiece - 1) / perPiece;
    if (!fresh) return scatterRows(offset, stride, rows, lastRow, out);
    prefault(out, stride * rows);
    if (stride * rows < kShareFrom || !processorFree())
        return reverseRows(offset, stride, 0, rows, rows, lastRow, out);
    std::vector<int> rcs(pieces, IMG_OK);
    std::vector<int> errors(pieces, 0);
    shareWork(static_cast<int>(pieces), [&](int piece) {
        const std::size_t first = static_cast<std::size_t>(piece) * perPiece;
        const auto k = static_cast<std::size_t>(piece);
        rcs[k] = reverseRows(offset, stride, first, std::min(perPiece, rows - first), rows, lastRow, out);
        if (rcs[k] != IMG_OK) errors[k] = imaging_os_error();
    });
    for (std::size_t k = 0; k < pieces; ++k)
        if (rcs[k] != IMG_OK) return noteOsError(errors[k]), rcs[k];
    return IMG_OK;
}

}  // namespace imaging
