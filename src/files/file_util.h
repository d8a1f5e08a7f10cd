// File helpers shared by the imaging layer, the settings file, and the tools,
// benchmarks and fuzz targets. Standard library and POSIX only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>

namespace files {

// The folder a path puts its file in: "." for a bare name, "/" for the root's files.
std::string folderOf(const std::string& path);

// The file's own name, without its folder.
std::string nameOf(const std::string& path);

using WriteCall = ssize_t (*)(int fd, const void* data, std::size_t size);

// Writes all `size` bytes to fd through `write`, over short writes and
// interruptions; false on failure, with errno saying why (ENOSPC when nothing
// was taken).
bool writeAll(int fd, const void* data, std::size_t size, WriteCall write = ::write);

// Makes the folder's entries (names created, renamed or removed in it) last
// through a crash. A file system that cannot flush a folder counts as done.
bool flushFolder(const std::string& folder);

// Replaces the file at `path` with `bytes` through a temporary beside it,
// flushed and renamed over it, then flushes the folder: a reader, or a process
// killed at any point, finds the old contents or the new, never a part. False,
// with errno, when the old file is still in place; the temporary is gone then.
// Temporaries are "<name>.tmp-<pid>-<n>"; those of killed processes are the
// caller's to remove. `step`, when given, is called at each stage (1: temporary
// open, 2: half written, 3: all written, 4: flushed and closed, 5: renamed)
// so that tests can end the process there.
bool replaceFile(const std::string& path, std::string_view bytes, mode_t mode, void (*step)(int) = nullptr);

}  // namespace files
