#include "errors.h"

#include "imaging.h"

const char* imaging_strerror(int code) {
    switch (code) {
    case IMG_OK: return "success";
    case IMG_ERR_OPEN: return "the file is missing or cannot be read";
    case IMG_ERR_NOT_BMP: return "the file is not a bitmap";
    case IMG_ERR_UNSUPPORTED: return "this kind of bitmap is not supported";
    case IMG_ERR_CORRUPT: return "the bitmap is damaged";
    case IMG_ERR_TRUNCATED: return "the bitmap is cut short";
    case IMG_ERR_NO_MEMORY: return "not enough memory for the image";
    case IMG_ERR_BAD_IMAGE: return "unusable image descriptor";
    case IMG_ERR_MISMATCH: return "the image does not match the file";
    case IMG_ERR_WRITE: return "the JPEG file cannot be written";
    case IMG_ERR_TOO_LARGE: return "the image is too large for a JPEG file";
    case IMG_ERR_READ: return "the file could not be read";
    default: return "unknown error";
    }
}

namespace {
thread_local int g_osError = 0;
thread_local std::uint64_t g_bytesNeeded = 0;
}  // namespace

void imaging::noteOsError(int error) { g_osError = error; }
int imaging_os_error() { return g_osError; }
void imaging::noteBytesNeeded(std::uint64_t bytes) { g_bytesNeeded = bytes; }
unsigned long long imaging_bytes_needed() { return g_bytesNeeded; }
