// Conversion speed per kind of bitmap: the whole conversion (read, decode,
// encode, write) against libjpeg-turbo compressing the same pixels from
// memory, the floor no converter can beat.
//
//   bench_conversion [--keep DIR] [--runs N]
//   bench_conversion --batch DIR
// --keep writes the generated bitmaps to DIR (for comparing other tools);
// --batch only writes 200 photo-like 24-bit 1024x768 bitmaps to DIR.
#include "bmp_writer.h"
#include "image_rows.h"
#include "imaging.h"
#include "load_sequence.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <jpeglib.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Kind {
    const char* name;
    int width, height, bits;
    std::uint32_t compression;
    bool topDown;
};

fixture::Variant variantFor(const Kind& k) {
    fixture::Variant v;
    v.bits = k.bits;
    v.compression = k.compression;
    v.topDown = k.topDown;
    if (k.bits <= 8) v.palette = k.bits == 8 && std::strstr(k.name, "gray") ? fixture::grayPalette(256) : fixture::colourPalette(1 << k.bits);
    v.xPelsPerMeter = v.yPelsPerMeter = 2835;
    return v;
}

fixture::Picture pictureFor(const Kind& k) {
    fixture::Picture p = fixture::photo(k.width, k.height, k.bits <= 8);
    for (auto& i : p.indices) i = static_cast<std::uint8_t>(k.bits == 8 ? i : i >> (8 - k.bits));
    return p;
}

// The program's own sequence for one file.
bool convert(const std::string& in, const std::string& out) {
    ImageDescriptor image{};
    if (imaging::loadPicture(in.c_str(), image).code) return false;
    const bool ok = savejpg(out.c_str(), &image, 75) == 0;
    freeimage(&image);
    return ok;
}

// The decoded pixels as rows libjpeg can take: B, G, R or gray.
struct Pixels {
    int width = 0, height = 0, components = 3;
    std::vector<std::uint8_t> data;
};

Pixels decoded(const std::string& in) {
    ImageDescriptor image{};
    BITMAPINFOHEADER h{};
    bmpinfo(in.c_str(), &h);
    imaging::loadPicture(in.c_str(), image, {.depth = h.biBitCount >= 16 ? 24 : 8});
    Pixels px;
    px.width = image.width();
    px.height = image.height();
    const auto pal = image.palette();
    const bool gray = savesAsGray(&image);
    px.components = gray ? 1 : 3;
    px.data.reserve(static_cast<std::size_t>(px.width) * px.height * px.components);
    const support::ImageRows rows = support::rowsOf(image);
    for (int y = 0; y < px.height; ++y) {
        const std::uint8_t* row = rows.row(y);
        for (int x = 0; x < px.width; ++x) {
            if (image.depth() == 24) {
                px.data.insert(px.data.end(), row + 3 * x, row + 3 * x + 3);
            } else if (gray) {
                px.data.push_back(pal[row[x]].rgbRed);
            } else {
                const RGBQUAD c = pal[row[x]];
                px.data.insert(px.data.end(), {c.rgbBlue, c.rgbGreen, c.rgbRed});
            }
        }
    }
    return px;
}

void compressFromMemory(const Pixels& px) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(px.width);
    cinfo.image_height = static_cast<JDIMENSION>(px.height);
    cinfo.input_components = px.components;
    cinfo.in_color_space = px.components == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 75, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t stride = static_cast<std::size_t>(px.width) * px.components;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&px.data[cinfo.next_scanline * stride]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
}

template <class F>
double seconds(F&& f) {
    const auto t0 = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

int writeBatch(const std::string& dir) {
    std::filesystem::create_directories(dir);
    for (unsigned i = 0; i < 200; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/photo%03u.bmp", i);
        if (!fixture::writeFile(dir + name, fixture::encode(fixture::Variant{}, fixture::photo(1024, 768, false, i + 1)))) {
            std::fprintf(stderr, "cannot write %s%s\n", dir.c_str(), name);
            return 1;
        }
    }
    std::printf("200 bitmaps written to %s\n", dir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string keep, batch;
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--keep")) keep = argv[i + 1];
        if (!std::strcmp(argv[i], "--runs")) runs = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--batch")) batch = argv[i + 1];
    }
    namespace fs = std::filesystem;
    if (!batch.empty()) return writeBatch(batch);
    const fs::path dir = keep.empty() ? fs::temp_directory_path() / ("pellicor-bench-" + std::to_string(::getpid())) : fs::path(keep);
    fs::create_directories(dir);

    const Kind kinds[] = {
        {"rgb24-6000x4000", 6000, 4000, 24, BI_RGB, false},
        {"rgb24-1920x1080", 1920, 1080, 24, BI_RGB, false},
        {"rgb24-topdown", 1920, 1080, 24, BI_RGB, true},
        {"rgb16", 1920, 1080, 16, BI_RGB, false},
        {"rgb32", 1920, 1080, 32, BI_RGB, false},
        {"pal8-colour", 1920, 1080, 8, BI_RGB, false},
        {"pal8-gray", 1920, 1080, 8, BI_RGB, false},
        {"pal4", 1920, 1080, 4, BI_RGB, false},
        {"pal1", 1920, 1080, 1, BI_RGB, false},
        {"rle8", 1920, 1080, 8, BI_RLE8, false},
    };
    std::printf("%-18s %12s %12s %8s\n", "kind", "whole MP/s", "floor MP/s", "ratio");
    for (const Kind& k : kinds) {
        const std::string in = (dir / (std::string(k.name) + ".bmp")).string();
        const std::string out = (dir / (std::string(k.name) + ".jpg")).string();
        if (!fixture::writeFile(in, fixture::encode(variantFor(k), pictureFor(k)))) {
            std::fprintf(stderr, "cannot write %s\n", in.c_str());
            return 1;
        }
        const double mp = static_cast<double>(k.width) * k.height / 1e6;
        const Pixels px = decoded(in);
        // Whole and floor in rounds of three runs each, so that a change in
        // the machine's load does not bend the ratio, while each still runs
        // as it does in a batch, after one of its own kind; each keeps its
        // best run. Each conversion writes a new JPEG, as converting a folder
        // does: replacing one makes the file system flush it first.
        double whole = 1e9, floor = 1e9;
        for (int i = 0; i < runs; i += 3) {
            for (int j = i; j < std::min(runs, i + 3); ++j) {
                fs::remove(out);
                bool ok = true;
                whole = std::min(whole, seconds([&] { ok = convert(in, out); }));
                if (!ok) {
                    std::fprintf(stderr, "%s: conversion failed\n", k.name);
                    return 1;
                }
            }
            for (int j = i; j < std::min(runs, i + 3); ++j) floor = std::min(floor, seconds([&] { compressFromMemory(px); }));
        }
        std::printf("%-18s %12.1f %12.1f %8.2f\n", k.name, mp / whole, mp / floor, floor / whole);
        if (keep.empty()) fs::remove(out);
    }
    if (keep.empty()) fs::remove_all(dir);
    return 0;
}
