#include "file_util.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>

namespace files {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool writeAll(int fd, const void* data, std::size_t size, WriteCall write) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool flushFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool done = ::fsync(fd) == 0 || errno == EINVAL;  // EINVAL: nothing to flush
    const int error = errno;
    ::close(fd);
    errno = error;
    return done;
}

bool replaceFile(const std::string& path, std::string_view bytes, mode_t mode, void (*step)(int)) {
    static std::atomic<unsigned> serial{0};
    auto reached = [step](int n) {
        if (step) step(n);
    };
    const std::string temporary = path + ".tmp-" + std::to_string(::getpid()) + '-' + std::to_string(serial++);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return false;
    reached(1);
    const std::size_t half = bytes.size() / 2;
    bool ok = writeAll(fd, bytes.data(), half);
    reached(2);
    ok = ok && writeAll(fd, bytes.data() + half, bytes.size() - half);
    reached(3);
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;  // close() is where some file systems report a failed write
    reached(4);
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        return false;
    }
    reached(5);
    flushFolder(folderOf(path));  // the new contents are in place already; this makes them last
    return true;
}

}  // namespace files
