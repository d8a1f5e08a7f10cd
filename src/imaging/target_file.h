// A file that appears under its name only once it is completely written.
#pragma once

#include <string>

namespace imaging {

// A new hidden name in `folder` for a file of this process, of a fixed short
// length; one left by a process that is gone is removed by the next writer there.
std::string temporaryName(const std::string& folder);

class TargetFile {
public:
    TargetFile() = default;
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;
    ~TargetFile();  // discards whatever was written unless committed

    // Creates an unnamed (or hidden temporary) file in the target's folder.
    bool open(const std::string& target);
    int fd() const { return fd_; }
    // 1 when the file at `path` holds exactly what was written, 0 when it
    // differs, -1 when either cannot be read.
    int sameBytesAs(const char* path) const;
    // Sets its permission bits and modification time before it is named.
    bool setModeAndTime(unsigned mode, long long seconds, long nanoseconds);
    // Gives the file its name; with replace false an existing file keeps it (EEXIST).
    bool commit(bool replace = true);

private:
    bool linkAnonymous();
    void discard();

    std::string target_;
    std::string folder_;
    std::string temp_;  // the temporary name, once the file has one
    int fd_ = -1;
};

}  // namespace imaging
