#include "target_file.h"

#include "file_io.h"
#include "internal.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imaging {
namespace {

// A hidden name beside the target that no other writer uses.
std::string temporaryName(const std::string& folder, const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return folder + "/." + nameOf(target) + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
}

bool procFdAvailable() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

}  // namespace

TargetFile::~TargetFile() { discard(); }

bool TargetFile::open(const std::string& target) {
    discard();
    target_ = target;
    folder_ = folderOf(target);
    // An unnamed file vanishes by itself if the process dies mid-write.
    if (procFdAvailable()) {
        fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ >= 0) return true;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return noteOsError(errno), false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = temporaryName(folder_, target_);
        fd_ = ::open(temp_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ >= 0) return true;
        if (errno != EEXIST) break;
    }
    noteOsError(errno);
    temp_.clear();
    return false;
}

bool TargetFile::linkAnonymous() {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = temporaryName(folder_, target_);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp_.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno != EEXIST) break;
    }
    noteOsError(errno);
    temp_.clear();
    return false;
}

namespace {

// rename() that never replaces: atomic where the file system knows how, a
// hard link (which fails on an existing name just as atomically) elsewhere.
bool renameNoReplace(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(from, to) != 0) return false;
    ::unlink(from);
    return true;
}

}  // namespace

bool TargetFile::commit(bool replace) {
    if (fd_ < 0) return false;
    if (temp_.empty() && !linkAnonymous()) return false;
    const int fd = fd_;
    fd_ = -1;
    // close() is where some file systems report a failed write.
    if (::close(fd) != 0 ||
        (replace ? std::rename(temp_.c_str(), target_.c_str()) : renameNoReplace(temp_.c_str(), target_.c_str()) ? 0 : -1) != 0) {
        noteOsError(errno);
        discard();
        return false;
    }
    temp_.clear();
    return true;
}

void TargetFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

}  // namespace imaging
