// Paths longer than one system call takes (PATH_MAX): the folder is opened a
// piece at a time and the file named through the descriptor, so a deep tree's
// files are read, written, named and deleted like any others. Standard
// library and POSIX only.
#pragma once

#include <string>

namespace files {

class ShortPath {
public:
    // A path that fits is kept as it is, without a descriptor.
    explicit ShortPath(std::string path);
    ~ShortPath();
    ShortPath(const ShortPath&) = delete;
    ShortPath& operator=(const ShortPath&) = delete;

    // The path itself, or "/proc/self/fd/N/<name>" over its opened folder:
    // valid while this object lives. When a folder on the way cannot be
    // opened, the long path itself (its calls fail as they would).
    const char* c_str() const { return path_.c_str(); }
    const std::string& str() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

// Makes `path` and the folders above it that are missing, one component at a
// time relative to the one before, so also past PATH_MAX. False with errno.
bool makeFolders(const std::string& path);

}  // namespace files
