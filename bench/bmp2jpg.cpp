// Converts bitmaps to JPEG files through the imaging layer, the way the
// program does, and prints where the time goes.
//
//   bmp2jpg [-q N] [--ppm OUT] IN.bmp OUT.jpg
//   bmp2jpg [-q N] [-j JOBS] -d OUTDIR IN.bmp...
// A batch converts JOBS files at a time (default: one per processor).
#include "file_util.h"
#include "image_rows.h"
#include "imaging.h"
#include "load_sequence.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The decoded pixels as PPM (or PGM when the JPEG will be grayscale).
bool writePnm(const std::string& path, const ImageDescriptor& image) {
    const bool indexed = image.depth() != 24;
    const bool gray = savesAsGray(&image);
    std::string out = "P" + std::to_string(gray ? 5 : 6) + "\n" + std::to_string(image.width()) + " " +
                      std::to_string(image.height()) + "\n255\n";
    const auto palette = image.palette();
    const support::ImageRows rows = support::rowsOf(image);
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* row = rows.row(y);
        for (int x = 0; x < image.width(); ++x) {
            RGBQUAD c{};
            if (!indexed) {
                c = RGBQUAD{row[3 * x], row[3 * x + 1], row[3 * x + 2], 0};
            } else {
                const int bits = image.depth(), perByte = 8 / bits;
                const unsigned index = (row[x / perByte] >> (8 - bits * (1 + x % perByte))) & ((1u << bits) - 1);
                if (index < palette.size()) c = palette[index];
            }
            if (gray)
                out += static_cast<char>(c.rgbRed);
            else
                out.append({static_cast<char>(c.rgbRed), static_cast<char>(c.rgbGreen), static_cast<char>(c.rgbBlue)});
        }
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool written = files::writeAll(fd, out.data(), out.size());
    return ::close(fd) == 0 && written;
}

std::mutex outputLock;

const char* stepName(imaging::LoadStep step) {
    switch (step) {
    case imaging::LoadStep::Info: return "bmpinfo";
    case imaging::LoadStep::Allocate: return "allocimage";
    case imaging::LoadStep::Load: return "loadbmp";
    default: return "";
    }
}

int fail(const char* in, const char* step, int rc) {
    const std::lock_guard<std::mutex> lock(outputLock);
    std::fprintf(stderr, "%s: %s failed: %s (%d)\n", in, step, imaging_strerror(rc), rc);
    return 1;
}

int convert(const char* in, const std::string& out, int quality, const char* ppm) {
    const auto t0 = Clock::now();
    ImageDescriptor image{};
    const imaging::Loaded loaded = imaging::loadPicture(in, image);
    if (loaded.code) return fail(in, stepName(loaded.failed), loaded.code);
    const BITMAPINFOHEADER& header = loaded.header;
    if (ppm && !writePnm(ppm, image)) std::fprintf(stderr, "%s: cannot write %s\n", in, ppm);
    const auto t1 = Clock::now();
    const int rc = savejpg(out.c_str(), &image, quality);
    freeimage(&image);
    const auto t2 = Clock::now();
    if (rc) return fail(in, "savejpg", rc);
    const std::lock_guard<std::mutex> lock(outputLock);
    std::printf("%s: %dx%d %d-bit, read+decode %.1f ms, encode+write %.1f ms\n", in, header.biWidth,
                std::abs(header.biHeight), header.biBitCount, ms(t1 - t0), ms(t2 - t1));
    return 0;
}

std::string jpegNameIn(const std::string& folder, const std::string& in) {
    std::string base = files::nameOf(in);
    const std::size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    return folder + "/" + base + ".jpg";
}

int usage() {
    std::fprintf(stderr,
                 "usage: bmp2jpg [-q N] [--ppm OUT] IN.bmp OUT.jpg\n"
                 "       bmp2jpg [-q N] [-j JOBS] -d OUTDIR IN.bmp...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int quality = 75;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const char* ppm = nullptr;
    const char* outDir = nullptr;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "-q") && hasValue) {
            quality = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--ppm") && hasValue) {
            ppm = argv[++i];
        } else if (!std::strcmp(argv[i], "-j") && hasValue) {
            jobs = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "-d") && hasValue) {
            outDir = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return usage();
        } else {
            files.push_back(argv[i]);
        }
    }
    if (outDir) {
        if (files.empty() || ppm) return usage();
        // Files are independent: each worker takes the next one in turn.
        std::atomic<std::size_t> next{0};
        std::atomic<int> failures{0};
        auto work = [&] {
            for (std::size_t i; (i = next++) < files.size();)
                failures += convert(files[i], jpegNameIn(outDir, files[i]), quality, nullptr);
        };
        std::vector<std::thread> workers;
        for (int j = 1; j < std::min<int>(jobs, static_cast<int>(files.size())); ++j) workers.emplace_back(work);
        work();
        for (std::thread& t : workers) t.join();
        return failures ? 1 : 0;
    }
    if (files.size() != 2) return usage();
    return convert(files[0], files[1], quality, ppm);
}
