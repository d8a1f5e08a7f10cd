// The program's way of loading a bitmap before saving it as a JPEG, kept in
// one place for every caller (the conversion, the tools, the fuzz target and
// the tests): bmpinfo, allocimage at the program's depth, loadbmp, and 1-bit
// pictures widened to 8 bits. Built on the seven functions alone.
#pragma once

#include "imaging.h"

#include <cstdlib>

namespace imaging {

// The call of the sequence that failed.
enum class LoadStep { None, Info, Allocate, Load };

struct LoadOptions {
    // Buffer depth; 0 is the program's rule (see programDepth).
    int depth = 0;
    // A 1-bit picture moves into an 8-bit buffer, as the program does before
    // saving; when that buffer cannot be had, the 1-bit one stays.
    bool widenOneBit = true;
};

struct Loaded {
    int code = IMG_OK;  // IMG_OK, or the failing call's result
    LoadStep failed = LoadStep::None;
    BITMAPINFOHEADER header{};  // as bmpinfo reported it
};

// The buffer depth for a bitmap of `bitCount` bits per pixel: 16 bits and
// more load as 24, and so does 0 (an embedded JPEG or PNG says its own);
// 1, 2, 4 and 8 bits keep their depth.
inline int programDepth(int bitCount) { return bitCount >= 16 || bitCount == 0 ? 24 : bitCount; }

// Loads `path` into `image`; on failure `image` holds nothing.
inline Loaded loadPicture(const char* path, ImageDescriptor& image, LoadOptions options = {}) {
    Loaded r;
    const auto fail = [&r](LoadStep step, int code) {
        r.code = code;
        r.failed = step;
        return r;
    };
    if (int rc = bmpinfo(path, &r.header)) return fail(LoadStep::Info, rc);
    const int depth = options.depth != 0 ? options.depth : programDepth(r.header.biBitCount);
    const int width = r.header.biWidth;
    const int height = std::abs(r.header.biHeight);  // bmpinfo refuses the most negative height
    if (int rc = allocimage(&image, width, height, depth)) {
        freeimage(&image);
        return fail(LoadStep::Allocate, rc);
    }
    if (int rc = loadbmp(path, &image)) {
        freeimage(&image);
        return fail(LoadStep::Load, rc);
    }
    if (depth == 1 && options.widenOneBit) {
        ImageDescriptor wide{};
        if (allocimage(&wide, width, height, 8) == IMG_OK && convert1bitto8bit(&image, &wide) == IMG_OK) {
            freeimage(&image);
            copyimgdes(&wide, &image);
        }
        freeimage(&wide);  // the 8-bit buffer lives on in `image` when it took it
    }
    return r;
}

}  // namespace imaging
