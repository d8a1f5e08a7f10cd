#include "target_file.h"

#include "errors.h"
#include "file_util.h"
#include "testing_hooks.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace {
std::atomic<bool> g_plainFiles{false};
}

void imaging_force_plain_files(bool on) { g_plainFiles = on; }

namespace imaging {
namespace {

// Temporaries are ".pellicor-HOST-PID-SERIAL.tmp", eight lowercase hex digits
// each: short whatever the target's name, and telling a later process whether
// the writer ran on this machine and is gone.
constexpr char kTempPrefix[] = ".pellicor-";
constexpr char kTempSuffix[] = ".tmp";
constexpr std::size_t kPrefixSize = sizeof kTempPrefix - 1;
constexpr std::size_t kTempNameSize = kPrefixSize + 3 * 8 + 2 + sizeof kTempSuffix - 1;

// This machine and its process-id namespace: a container that shares the
// host's name and a folder does not count the host's processes.
std::uint32_t hostTag() {
    static const std::uint32_t tag = [] {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
        char ns[64] = {};
        if (::readlink("/proc/self/ns/pid", ns, sizeof ns - 1) < 0) ns[0] = '\0';
        std::uint32_t h = 2166136261u;  // FNV-1a
        for (const std::string& part : {std::string(host), std::string(ns)})
            for (const char c : part + '\n') h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
        return h;
    }();
    return tag;
}

}  // namespace

std::string temporaryName(const std::string& folder) {
    static std::atomic<std::uint32_t> counter{0};
    char name[kTempNameSize + 1];
    std::snprintf(name, sizeof name, "%s%08x-%08x-%08x%s", kTempPrefix, unsigned{hostTag()}, static_cast<unsigned>(::getpid()),
                  unsigned{counter++}, kTempSuffix);
    return folder + "/" + name;
}

namespace {

// Eight lowercase hex digits, as temporaryName writes them.
bool hexField(const char* s, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < 8; ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9')
            value = value << 4 | static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            value = value << 4 | static_cast<std::uint32_t>(c - 'a' + 10);
        else
            return false;
    }
    return true;
}

// The writer's pid when `name` is one of our temporaries from this machine, else 0.
pid_t writerOf(const char* name) {
    if (std::strlen(name) != kTempNameSize || std::memcmp(name, kTempPrefix, kPrefixSize) != 0) return 0;
    const char* fields = name + kPrefixSize;
    std::uint32_t host = 0, pid = 0, serial = 0;
    if (!hexField(fields, host) || fields[8] != '-' || !hexField(fields + 9, pid) || fields[17] != '-' ||
        !hexField(fields + 18, serial) || std::strcmp(fields + 26, kTempSuffix) != 0)
        return 0;
    return host == hostTag() && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

// Removes what writers of this machine left when they were killed, the first
// time this process writes in `folder`. The unnamed route leaves nothing while
// writing, but has a name for an instant while it commits.
void sweepOnce(const std::string& folder) {
    static std::mutex mutex;
    static std::unordered_set<std::string> swept;
    {
        const std::lock_guard lock(mutex);
        if (!swept.insert(folder).second) return;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t pid = writerOf(entry->d_name);
        // A process that exists, even one we may not signal, may still be writing.
        if (pid > 0 && pid != self && ::kill(pid, 0) != 0 && errno == ESRCH) ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

bool procFdAvailable() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

// Errors by which a file system says it cannot do an operation at all.
bool unsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM; }

// rename() that never replaces: atomic where the file system knows how, a
// hard link (which fails on an existing name just as atomically) elsewhere.
bool renameNoReplace(const char* from, const char* to) {
    if (!g_plainFiles) {
        if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
        if (!unsupported(errno)) return false;
        if (::link(from, to) == 0) {
            ::unlink(from);
            return true;
        }
        if (!unsupported(errno)) return false;
    }
    // Neither (FUSE, some network shares): a look, then the rename, as two
    // steps; lstat also finds the name under another spelling where case is ignored.
    struct stat st {};
    if (::lstat(to, &st) == 0) return errno = EEXIST, false;
    return errno == ENOENT && ::rename(from, to) == 0;
}

// Up to `size` bytes from `offset`; fewer only at the end of the file, -1 on failure.
ssize_t readAt(int fd, char* data, std::size_t size, off_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, data + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

struct ScopedFd {
    int fd;
    ~ScopedFd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

TargetFile::~TargetFile() { discard(); }

bool TargetFile::open(const std::string& target) {
    discard();
    target_ = target;
    folder_ = files::folderOf(target);
    sweepOnce(folder_);
    // An unnamed file vanishes by itself if the process dies mid-write. It is
    // opened for reading too, for sameBytesAs.
    if (!g_plainFiles && procFdAvailable()) {
        fd_ = ::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd_ >= 0) return true;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return noteOsError(errno), false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = temporaryName(folder_);
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
        temp_ = temporaryName(folder_);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp_.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno != EEXIST) break;
    }
    noteOsError(errno);
    temp_.clear();
    return false;
}

int TargetFile::sameBytesAs(const char* path) const {
    if (fd_ < 0 || path == nullptr) return -1;
    // A named temporary is read through a descriptor of its own: a FUSE file
    // system may read back zeros through the one that created the file.
    const ScopedFd named{temp_.empty() ? -1 : ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC)};
    const int ours = temp_.empty() ? fd_ : named.fd;
    struct stat a {}, b {};
    if (ours < 0 || ::fstat(ours, &a) != 0) return noteOsError(errno), -1;
    // O_NONBLOCK: a pipe under the target's name must not hold us up.
    const ScopedFd theirs{::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (theirs.fd < 0 || ::fstat(theirs.fd, &b) != 0) return noteOsError(errno), -1;
    if (!S_ISREG(b.st_mode)) return noteOsError(S_ISDIR(b.st_mode) ? EISDIR : EINVAL), -1;
    if (a.st_size != b.st_size) return 0;
    constexpr std::size_t kChunk = 64 * 1024;
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[2 * kChunk]);
    if (!buffer) return noteOsError(ENOMEM), -1;
    for (off_t at = 0;; at += static_cast<off_t>(kChunk)) {
        const ssize_t n = readAt(ours, buffer.get(), kChunk, at);
        const ssize_t m = readAt(theirs.fd, buffer.get() + kChunk, kChunk, at);
        if (n < 0 || m < 0) return noteOsError(errno), -1;
        if (n != m || std::memcmp(buffer.get(), buffer.get() + kChunk, static_cast<std::size_t>(n)) != 0) return 0;
        if (n < static_cast<ssize_t>(kChunk)) return 1;
    }
}

bool TargetFile::setModeAndTime(unsigned mode, long long seconds, long nanoseconds) {
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), nanoseconds}};
    if (fd_ >= 0 && ::fchmod(fd_, static_cast<mode_t>(mode)) == 0 && ::futimens(fd_, times) == 0) return true;
    noteOsError(fd_ >= 0 ? errno : EBADF);
    return false;
}

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
