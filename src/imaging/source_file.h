// A bitmap file read with plain reads into memory of our own. A file that
// shrinks, vanishes or fails to read under us gives an error code; nothing
// the file does later can fault the process, as a mapping would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace imaging {

// Uncompressed rows as a bitmap stores them: `rows` rows of `stride` bytes
// from `offset`, the bottom row first unless `topDown`. The file's last row
// may end after `lastRow` bytes, its padding missing (it reads as zeros).
struct StoredRows {
    std::uint64_t offset = 0;
    std::size_t stride = 0;
    std::size_t rows = 0;
    std::size_t lastRow = 0;
    bool topDown = false;

    std::size_t bytes() const { return stride * rows; }
    // Whether `got` bytes read from row `first` on hold rows first .. first + count - 1.
    bool holds(std::size_t first, std::size_t count, std::uint64_t got) const {
        const bool last = first + count == rows;
        return got >= count * stride || (last && got + stride >= count * stride + lastRow);
    }
    // Where file row r goes in memory that keeps the top row first.
    std::size_t place(std::size_t r) const { return (topDown ? r : rows - 1 - r) * stride; }
};

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
    // Every stored row into `out`, the top row first; `fresh` memory has
    // never been touched. IMG_ERR_TRUNCATED when a row is missing.
    int readRows(const StoredRows& rows, std::uint8_t* out, bool fresh) const;

private:
    int scatterRows(const StoredRows& rows, std::uint8_t* out) const;
    int copyRows(const StoredRows& rows, std::size_t first, std::size_t count, std::uint8_t* out) const;
    int shareRows(const StoredRows& rows, std::size_t perPiece, std::uint8_t* out) const;

    int fd_ = -1;
    std::uint64_t size_ = 0;
};

}  // namespace imaging
