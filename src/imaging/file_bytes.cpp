#include "file_bytes.h"

#include "imaging.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imaging {
namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

int openRegular(const char* path, std::uint64_t& size) {
    if (path == nullptr) return -1;
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

bool readFully(int fd, std::uint8_t* out, std::size_t count, std::size_t& got) {
    got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, out + got, count - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int FileBytes::open(const char* path) {
    base_.reset();
    size_ = 0;
    std::uint64_t size = 0;
    Fd fd(openRegular(path, size));
    if (fd.get() < 0) return IMG_ERR_OPEN;
    if (size == 0) return IMG_OK;

    // A private writable mapping: the fast path hands it out as an image
    // buffer, and nothing written there can reach the file.
    void* map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd.get(), 0);
    if (map != MAP_FAILED) {
        base_ = std::shared_ptr<std::uint8_t>(static_cast<std::uint8_t*>(map),
                                              [size](std::uint8_t* p) { ::munmap(p, size); });
#ifdef MADV_POPULATE_READ
        // Mapping the cached pages in one call is far cheaper than a fault per page.
        ::madvise(map, size, MADV_POPULATE_READ);
#endif
        size_ = size;
        return IMG_OK;
    }

    // File systems that cannot map: read it instead.
    std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[size]);
    if (!copy) return IMG_ERR_NO_MEMORY;
    std::size_t got = 0;
    if (!readFully(fd.get(), copy.get(), size, got)) return IMG_ERR_OPEN;
    base_ = std::shared_ptr<std::uint8_t>(copy.release(), std::default_delete<std::uint8_t[]>());
    size_ = got;
    return IMG_OK;
}

int readFileHead(const char* path, std::uint8_t* buffer, std::size_t max, std::size_t& got,
                 std::uint64_t& fileSize) {
    Fd fd(openRegular(path, fileSize));
    if (fd.get() < 0) return IMG_ERR_OPEN;
    if (!readFully(fd.get(), buffer, max, got)) return IMG_ERR_OPEN;
    return IMG_OK;
}

}  // namespace imaging
