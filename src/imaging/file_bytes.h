// A whole file's bytes, mapped from the page cache where possible.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace imaging {

class FileBytes {
public:
    // Opens and maps `path`; returns IMG_OK or IMG_ERR_OPEN.
    int open(const char* path);
    std::span<const std::uint8_t> bytes() const { return {base_.get(), size_}; }
    std::uint64_t size() const { return size_; }
    // A pointer into the file that keeps the mapping alive; writes to it stay
    // private to this process.
    std::shared_ptr<std::uint8_t> share(std::uint64_t offset) const {
        return std::shared_ptr<std::uint8_t>(base_, base_.get() + offset);
    }

private:
    std::shared_ptr<std::uint8_t> base_;
    std::uint64_t size_ = 0;
};

// Reads up to `max` bytes from the start of `path` and its size; for
// looking at headers without mapping the file. IMG_OK or IMG_ERR_OPEN.
int readFileHead(const char* path, std::uint8_t* buffer, std::size_t max, std::size_t& got,
                 std::uint64_t& fileSize);

}  // namespace imaging
