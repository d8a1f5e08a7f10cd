// The system calls under the imaging layer's reads and writes, in one place,
// so that tests can make them fail without a check in every loop.
#pragma once

#include <cstddef>
#include <sys/types.h>
#include <sys/uio.h>

namespace imaging {

// The calls through which the imaging layer reads bitmaps and writes JPEGs; tests put
// failing ones in their place (testing_hooks.h).
struct FileOps {
    ssize_t (*pread)(int fd, void* buf, std::size_t count, off_t offset);
    ssize_t (*preadv)(int fd, const iovec* iov, int iovcnt, off_t offset);
    ssize_t (*write)(int fd, const void* buf, std::size_t count);
};
const FileOps& fileOps();

}  // namespace imaging
