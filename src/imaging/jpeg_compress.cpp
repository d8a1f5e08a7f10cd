#include "jpeg_compress.h"

#include <csetjmp>

namespace imaging {
namespace {

struct ErrorJump {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void jumpBack(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<ErrorJump*>(cinfo->err)->jump, 1); }
void quiet(j_common_ptr) {}

}  // namespace

// The only function that meets libjpeg's longjmp.
bool compressGuarded(void (*work)(j_compress_ptr, void*), void* context) {
    jpeg_compress_struct cinfo{};  // destroyable even if creating it fails early
    ErrorJump err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = jumpBack;
    err.pub.output_message = quiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    work(&cinfo, context);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace imaging
