// Loading a bitmap the way Pellicor's conversion does, for the tools that
// stand in for it: bmpinfo, allocimage at the program's depth (16 bits and
// more load as 24), loadbmp, and 1-bit images widened to 8 bits.
#pragma once

#include "imaging.h"

#include <cstdint>
#include <cstdlib>

// Returns 0, or the failing call's code with its name in *step.
inline int loadLikePellicor(const char* in, ImageDescriptor& image, BITMAPINFOHEADER& header, const char** step) {
    if (int rc = bmpinfo(in, &header)) return *step = "bmpinfo", rc;
    int depth = static_cast<std::int16_t>(header.biBitCount);
    if (depth >= 16) depth = 24;
    const int height = std::abs(header.biHeight);
    if (int rc = allocimage(&image, header.biWidth, height, depth)) return *step = "allocimage", rc;
    if (int rc = loadbmp(in, &image)) {
        freeimage(&image);
        return *step = "loadbmp", rc;
    }
    if (depth == 1) {
        ImageDescriptor wide{};
        if (allocimage(&wide, header.biWidth, height, 8) == 0 && convert1bitto8bit(&image, &wide) == 0) {
            freeimage(&image);
            copyimgdes(&wide, &image);
        }
    }
    return 0;
}
