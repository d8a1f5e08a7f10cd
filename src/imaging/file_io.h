// File helpers the imaging layer shares with its tools, benchmarks and fuzz
// target (not part of the seven functions).
#pragma once

#include <cstddef>
#include <string>

namespace imaging {

// The folder a path puts its file in: "." for a bare name, "/" for the root's files.
std::string folderOf(const std::string& path);

// The file's own name, without its folder.
std::string nameOf(const std::string& path);

// Writes all `size` bytes to fd, through short writes and interruptions;
// false on failure, with errno saying why (ENOSPC when nothing was taken).
bool writeAll(int fd, const void* data, std::size_t size);

}  // namespace imaging
