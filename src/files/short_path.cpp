#include "short_path.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

// Each piece opened stays well within PATH_MAX, and a name (at most NAME_MAX) always fits one.
constexpr std::size_t kPiece = 2048;

}  // namespace

ShortPath::ShortPath(std::string path) : path_(std::move(path)) {
    if (path_.size() < PATH_MAX) return;
    const std::size_t slash = path_.rfind('/');
    if (slash == std::string::npos) return;
    const std::string folder = slash == 0 ? std::string("/") : path_.substr(0, slash);
    int dir = AT_FDCWD;
    for (std::size_t start = 0; start < folder.size();) {
        std::size_t end = folder.size();
        if (end - start > kPiece) {
            end = folder.rfind('/', start + kPiece);
            if (end == std::string::npos || end <= start) break;  // no name is that long
        }
        const std::string piece = end == start ? std::string("/") : folder.substr(start, end - start);
        const int next = ::openat(dir, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dir != AT_FDCWD) ::close(dir);
        dir = next;
        if (dir < 0) return;
        start = end + 1;
    }
    if (dir == AT_FDCWD) return;
    fd_ = dir;
    path_ = "/proc/self/fd/" + std::to_string(fd_) + path_.substr(slash);
}

ShortPath::~ShortPath() {
    if (fd_ >= 0) ::close(fd_);
}

bool makeFolders(const std::string& path) {
    int dir = path.starts_with('/') ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
    bool ok = dir != -1;
    for (std::size_t start = 0; ok && start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".") continue;
        if (::mkdirat(dir, name.c_str(), 0777) != 0 && errno != EEXIST) ok = false;
        const int next = ok ? ::openat(dir, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
        const int error = errno;
        if (dir != AT_FDCWD) ::close(dir);
        dir = next;
        errno = error;
        ok = dir != -1;
    }
    if (dir >= 0 && dir != AT_FDCWD) ::close(dir);
    return ok;
}

}  // namespace files
