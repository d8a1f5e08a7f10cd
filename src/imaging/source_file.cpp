#include "source_file.h"

#include "imaging.h"
#include "errors.h"
#include "pixel_memory.h"
#include "second_processor.h"
#include "file_ops.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <sys/uio.h>
#include <vector>
#include <unistd.h>

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
    while (got < max) {
        // One call moves at most about 2 GiB.
        const std::size_t chunk = std::min<std::size_t>(max - got, std::size_t{1} << 30);
        const ssize_t n = fileOps().pread(fd_, out + got, chunk, static_cast<off_t>(offset + got));
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
// Reads into new memory from this size on are shared with a second
// processor, in pieces of about kPiece bytes.
constexpr std::size_t kShareFrom = std::size_t{4} << 20;
constexpr std::size_t kPiece = std::size_t{1} << 20;

// A buffer that stays in the cache, for the calling thread.
std::uint8_t* chunkBuffer() {
    thread_local std::unique_ptr<std::uint8_t[]> chunk;
    if (!chunk) chunk.reset(new (std::nothrow) std::uint8_t[kChunk]);
    return chunk.get();
}

}  // namespace

// How rows are read depends on where they go, and is decided here only:
// - Memory in use already (a recycled buffer): straight into place by the
//   kernel, many rows a call. Touching the pages again costs nothing.
// - New pages: the kernel writing pages the process never touched costs as
//   much again as the process writing them, so the rows go through a small
//   buffer that stays in the cache, and the process touches each page once.
//   From kShareFrom on, a second processor takes a share of the pieces, when
//   one is free: touching new pages takes one processor several milliseconds.
//   (Into warm memory a second thread does not speed up a copy.)
int SourceFile::readRows(const StoredRows& rows, std::uint8_t* out, bool fresh) const {
    if (!fresh) return scatterRows(rows, out);
    prefault(out, rows.bytes());
    const std::size_t perPiece = std::max<std::size_t>(1, kPiece / rows.stride);
    if (rows.bytes() < kShareFrom || rows.rows <= perPiece || !processorFree()) return copyRows(rows, 0, rows.rows, out);
    return shareRows(rows, perPiece, out);
}

int SourceFile::shareRows(const StoredRows& rows, std::size_t perPiece, std::uint8_t* out) const {
    const std::size_t pieces = (rows.rows + perPiece - 1) / perPiece;
    std::vector<int> rcs(pieces, IMG_OK);
    std::vector<int> errors(pieces, 0);
    shareWork(static_cast<int>(pieces), [&](int piece) {
        const auto k = static_cast<std::size_t>(piece);
        const std::size_t first = k * perPiece;
        rcs[k] = copyRows(rows, first, std::min(perPiece, rows.rows - first), out);
        if (rcs[k] != IMG_OK) errors[k] = imaging_os_error();
    });
    for (std::size_t k = 0; k < pieces; ++k)
        // The system's reason was kept by whichever thread read the piece.
        if (rcs[k] != IMG_OK) return noteOsError(errors[k]), rcs[k];
    return IMG_OK;
}

int SourceFile::copyRows(const StoredRows& rows, std::size_t first, std::size_t count, std::uint8_t* out) const {
    const std::size_t stride = rows.stride;
    // A single row wider than the small buffer gets one of its own.
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
        if (int rc = readSome(rows.offset + i * stride, chunk, n * stride, got)) return rc;
        if (!rows.holds(i, n, got)) return IMG_ERR_TRUNCATED;
        std::fill(chunk + got, chunk + n * stride, std::uint8_t{0});
        for (std::size_t r = 0; r < n; ++r) std::copy_n(chunk + r * stride, stride, out + rows.place(i + r));
    }
    return IMG_OK;
}

int SourceFile::scatterRows(const StoredRows& rows, std::uint8_t* out) const {
    // One call places up to kBatch rows, each straight into its place: one
    // copy, by the kernel, as a single read would make.
    constexpr std::size_t kBatch = 512;  // within every system's limit on vectors
    const std::size_t stride = rows.stride;
    const std::size_t batch = std::min(kBatch, std::max<std::size_t>(1, (std::size_t{1} << 30) / stride));
    std::vector<iovec> iov(batch);
    for (std::size_t i = 0; i < rows.rows; i += batch) {
        const std::size_t n = std::min(batch, rows.rows - i);
        for (std::size_t r = 0; r < n; ++r) iov[r] = {out + rows.place(i + r), stride};
        const std::uint64_t at = rows.offset + i * stride;
        const std::size_t want = n * stride;
        ssize_t got;
        do {
            got = fileOps().preadv(fd_, iov.data(), static_cast<int>(n), static_cast<off_t>(at));
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
        if (!rows.holds(i, n, done)) return IMG_ERR_TRUNCATED;
        if (done < want) {
            std::uint8_t* last = static_cast<std::uint8_t*>(iov[n - 1].iov_base);
            std::fill(last + (done - (want - stride)), last + stride, std::uint8_t{0});
        }
    }
    return IMG_OK;
}

}  // namespace imaging
