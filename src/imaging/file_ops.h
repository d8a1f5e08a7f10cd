// (placeholder until the file-operation seam lands)
#pragma once
#include <cstddef>
#include <sys/types.h>
#include <sys/uio.h>
namespace imaging {
struct FileOps {
    ssize_t (*pread)(int fd, void* buf, std::size_t count, off_t offset);
    ssize_t (*preadv)(int fd, const iovec* iov, int iovcnt, off_t offset);
    ssize_t (*write)(int fd, const void* buf, std::size_t count);
};
const FileOps& fileOps();
}  // namespace imaging
