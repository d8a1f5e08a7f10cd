// A bitmap file read with plain reads into memory of our own. A file that
// shrinks, vanishes or fails to read under us gives an error code; nothing
// the file does later can fault the process, as a mapping would.
#pragma once

#include "imaging.h"

#include <algorithm>
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

// A coded stream from `offset` on, read in order into a window of our own
// memory, never past `limit` bytes (the longest legal stream): a short
// stream followed by gigabytes costs neither their memory nor their reading.
// The window holds up to `window` bytes of the stream, and `slack` more
// bytes for its reader's own use.
class StreamBytes {
public:
    StreamBytes(const SourceFile& file, std::uint64_t offset, std::uint64_t limit, std::size_t window, std::size_t slack = 0)
        : file_(file), offset_(offset), length_(std::min(file.size() - offset, limit)), beyond_(file.size() - offset > length_),
          capacity_(static_cast<std::size_t>(std::min<std::uint64_t>(window, length_))),
          bytes_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity_ + slack)) {}
    // The window's size, for what a decoder holds beside the picture.
    static std::size_t windowBytes(const SourceFile& file, std::uint64_t offset, std::uint64_t limit, std::size_t window,
                                   std::size_t slack = 0) {
        return static_cast<std::size_t>(std::min<std::uint64_t>({window, file.size() - offset, limit})) + slack;
    }

    std::uint8_t* window() { return bytes_.get(); }
    std::size_t capacity() const { return capacity_; }
    // The next bytes of the stream to `out` (inside the window), up to `max`; fewer once it ends.
    int next(std::uint8_t* out, std::size_t max, std::size_t& got) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(max, length_ - read_));
        if (int rc = file_.readSome(offset_ + read_, out, want, got)) return rc;
        read_ += got;
        cut_ = got < want;
        return IMG_OK;
    }
    bool ended() const { return read_ == length_ || cut_; }
    // A stream that runs out before the picture is complete: cut short, or
    // (with more in the file) longer than any picture of this size needs.
    int shortfall() const { return beyond_ && !cut_ ? IMG_ERR_CORRUPT : IMG_ERR_TRUNCATED; }

private:
    const SourceFile& file_;
    std::uint64_t offset_;
    std::uint64_t length_;
    bool beyond_;
    std::size_t capacity_;
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::uint64_t read_ = 0;
    bool cut_ = false;
};

}  // namespace imaging
