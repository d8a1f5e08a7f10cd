// A bitmap file read with plain reads into memory of our own. A file that
// shrinks, vanishes or fails to read under us gives an error code; nothing
// the file does later can fault the process, as a mapping would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace imaging {

class SourceFile {
public:
    SourceFile() = default;
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;
    ~SourceFile();

    // Opens a regular file; IMG_OK or IMG_ERR_OPEN.
    int open(const char* path);
    // The size when it was opened.
    std::uint64_t size() const { return size_; }
    // Up to `max` bytes from `offset`; fewer where the file ends. IMG_OK or IMG_ERR_READ.
    int readSome(std::uint64_t offset, std::uint8_t* out, std::size_t max, std::size_t& got) const;
    // Exactly `count` bytes; IMG_ERR_TRUNCATED when the file ends first.
    int readAt(std::uint64_t offset, std::uint8_t* out, std::size_t count) const;
    // Up to `max` bytes from `offset` into memory of the caller's; `fresh`
    // memory (pages never touched) is filled through a small buffer instead.
    int readInto(std::uint64_t offset, std::uint8_t* out, std::size_t max, bool fresh, std::size_t& got) const;
    // `rows` rows of `stride` bytes from `offset`, in reverse order: file
    // row i goes to out + (rows - 1 - i) * stride. The file's last row may
    // end early, after lastRow bytes (the rest reads as 0); shorter than
    // that is IMG_ERR_TRUNCATED.
    int readRowsReversed(std::uint64_t offset, std::size_t stride, std::size_t rows, std::size_t lastRow,
                         std::uint8_t* out, bool fresh) const;

private:
    int readRange(std::uint64_t offset, std::uint8_t* out, std::size_t max, bool fresh, std::size_t& got) const;
    int scatterRows(std::uint64_t offset, std::size_t stride, std::size_t rows, std::size_t lastRow,
                    std::uint8_t* out) const;
    int reverseRows(std::uint64_t offset, std::size_t stride, std::size_t first, std::size_t count, std::size_t rows,
                    std::size_t lastRow, std::uint8_t* out) const;

    int fd_ = -1;
    std::uint64_t size_ = 0;
};

}  // namespace imaging
