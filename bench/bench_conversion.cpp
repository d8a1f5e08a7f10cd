// Conversion speed per kind of bitmap: the whole conversion (read, decode,
// encode, write) against libjpeg-turbo compressing the same pixels from
// memory, the floor no converter can beat.
//
//   bench_conversion [--keep DIR] [--runs N] [--kind NAME]
//                    [--pages | --fragmented [MIB]] [--raw]
//   bench_conversion --batch DIR
// --keep writes the generated bitmaps to DIR (for comparing other tools);
// --kind times only the kind of that name;
// --batch only writes 200 photo-like 24-bit 1024x768 bitmaps to DIR.
// --pages times the large kinds with huge pages and without, with buffers
// recycled and new (as for a process's first picture), instead of whole and
// floor; --fragmented also right after another process touched MIB (1024)
// of memory and exited, as a build or a browser tab leaves the kernel's
// free memory; --raw prints each of their conversions too. Both apply
// their switches on top of PELLICOR_FAST_PATHS.
#include "bmp_writer.h"
#include "image_rows.h"
#include "imaging.h"
#include "load_sequence.h"
#include "testing_hooks.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <jpeglib.h>
#include <spawn.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

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
    v.runsIntoPadding = std::strstr(k.name, "imagemagick") != nullptr;
    if (std::strstr(k.name, "os2")) v.header = fixture::Header::Os2;
    if (k.bits != 0 && k.bits <= 8) v.palette = k.bits == 8 && std::strstr(k.name, "gray") ? fixture::grayPalette(256) : fixture::colourPalette(1 << k.bits);
    v.xPelsPerMeter = v.yPelsPerMeter = 2835;
    return v;
}

fixture::Picture pictureFor(const Kind& k) {
    fixture::Picture p = fixture::photo(k.width, k.height, k.bits != 0 && k.bits <= 8);
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
    imaging::loadPicture(in.c_str(), image, {.depth = h.biBitCount >= 16 || h.biBitCount == 0 ? 24 : 8});
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
    fixture::compressRows(px.data.data(), px.width, px.height, px.components, px.components == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR, 75);
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

// The helper of --fragmented: touches `mib` of memory and exits.
int touchMemory(std::size_t mib) {
    const std::size_t size = mib << 20;
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return 1;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    for (std::size_t at = 0; at < size; at += page) static_cast<volatile char*>(p)[at] = 1;
    return 0;
}

// Runs the helper as a process of its own: a fork would leave this one's
// pages copy-on-write, and the next picture would fault on a recycled buffer.
bool touchElsewhere(int mib) {
    const std::string size = std::to_string(mib);
    char self[] = "bench_conversion", touch[] = "--touch";
    char* args[] = {self, touch, const_cast<char*>(size.c_str()), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, args, environ) != 0) return false;
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// What the kernel did for huge pages, machine-wide (zero where it does not say).
struct KernelCounts {
    double hugeFaults = 0, compactStalls = 0;
};

KernelCounts kernelCounts() {
    KernelCounts c;
    std::ifstream in("/proc/vmstat");
    std::string key;
    double value = 0;
    while (in >> key >> value) {
        if (key == "thp_fault_alloc") c.hugeFaults = value;
        if (key == "compact_stall") c.compactStalls = value;
    }
    return c;
}

// The kernel's settings for huge pages, as "[madvise]" among the choices.
std::string hugePageSetting(const char* name) {
    std::ifstream in(std::string("/sys/kernel/mm/transparent_hugepage/") + name);
    std::string line;
    std::getline(in, line);
    return line.empty() ? "unknown" : line;
}

double cpuMilliseconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double minorFaults() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_minflt);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

struct Samples {
    std::vector<double> ms, cpu, faults, hugeFaults, stalls;
};

struct PagesRun {
    int runs = 5;
    int fragmentMiB = 0;  // 0: memory as it is
    bool raw = false;     // every conversion's figures too
};

// One timed conversion under the given paths. With recycling, a conversion
// first leaves a buffer of these pages behind, as the batch's previous
// picture does; without, every buffer is new, as for a process's first picture.
bool timePages(const std::string& in, const std::string& out, bool huge, bool recycle, int fragmentMiB, Samples& s) {
    const char* env = std::getenv("PELLICOR_FAST_PATHS");
    std::string words = env ? env : "";
    if (!huge) words += ",no-huge-pages";
    if (!recycle) words += ",no-recycling";
    imaging_force_fast_paths(words.c_str());
    imaging_release_spare_memory();
    namespace fs = std::filesystem;
    if (recycle) {
        fs::remove(out);
        if (!convert(in, out)) return false;
    }
    if (fragmentMiB > 0 && !touchElsewhere(fragmentMiB)) {
        std::fprintf(stderr, "the helper could not touch %d MiB\n", fragmentMiB);
        return false;
    }
    fs::remove(out);
    const KernelCounts k0 = kernelCounts();
    const double faults0 = minorFaults(), cpu0 = cpuMilliseconds();
    bool ok = true;
    s.ms.push_back(seconds([&] { ok = convert(in, out); }) * 1e3);
    s.cpu.push_back(cpuMilliseconds() - cpu0);
    s.faults.push_back(minorFaults() - faults0);
    const KernelCounts k1 = kernelCounts();
    s.hugeFaults.push_back(k1.hugeFaults - k0.hugeFaults);
    s.stalls.push_back(k1.compactStalls - k0.compactStalls);
    return ok;
}

const char* memoryName(int v) { return v & 4 ? "fragmented" : "normal"; }
const char* buffersName(int v) { return v & 2 ? "recycled" : "new"; }

// Huge pages against ordinary ones, per kind, with buffers recycled and new,
// in memory as it is and (fragmentMiB > 0) as another process left it. The
// variants take turns, each run starting with the next, so that a change in
// the machine's load falls on all of them.
int comparePages(const std::vector<std::pair<Kind, std::string>>& files, const std::filesystem::path& dir,
                 const PagesRun& how) {
    std::printf("huge pages: enabled %s, defrag %s\n", hugePageSetting("enabled").c_str(), hugePageSetting("defrag").c_str());
    if (how.fragmentMiB > 0) std::printf("fragmented: right after another process touched %d MiB and exited\n", how.fragmentMiB);
    std::printf("ms per conversion: median of %d (worst); cpu: the process's CPU ms, median (worst); faults: its\n"
                "minor page faults; THP: huge pages the kernel handed out, cmp: its compaction stalls (machine-wide)\n",
                how.runs);
    std::printf("%-16s %-10s %-8s | %-40s | %-40s | %s\n", "", "", "", "huge pages", "ordinary pages", "huge/ordinary");
    std::printf("%-16s %-10s %-8s |", "kind", "memory", "buffers");
    for (int i = 0; i < 2; ++i)
        std::printf(" %5s %7s %5s %7s %6s %3s %3s |", "ms", "(worst)", "cpu", "(worst)", "faults", "THP", "cmp");
    std::printf(" %5s %5s\n", "ms", "cpu");
    for (const auto& [k, in] : files) {
        const std::string out = (dir / (std::string(k.name) + ".jpg")).string();
        // Index: fragmented * 4 + recycled * 2 + huge.
        std::array<Samples, 8> samples;
        const int variants = how.fragmentMiB > 0 ? 8 : 4;
        for (int run = 0; run < how.runs; ++run)
            for (int i = 0; i < variants; ++i) {
                const int v = (i + run) % variants;
                Samples& s = samples[static_cast<std::size_t>(v)];
                if (!timePages(in, out, v & 1, v & 2, v & 4 ? how.fragmentMiB : 0, s)) {
                    std::fprintf(stderr, "%s: conversion failed\n", k.name);
                    return 1;
                }
                if (how.raw)
                    std::printf("raw %s %s %s %s %.1f %.1f %.0f %.0f %.0f\n", k.name, memoryName(v), buffersName(v),
                                v & 1 ? "huge" : "ordinary", s.ms.back(), s.cpu.back(), s.faults.back(), s.hugeFaults.back(),
                                s.stalls.back());
            }
        for (const int v : {2, 0, 6, 4}) {
            if (v >= variants) continue;
            std::printf("%-16s %-10s %-8s |", k.name, memoryName(v), buffersName(v));
            const Samples& huge = samples[static_cast<std::size_t>(v + 1)];
            const Samples& ordinary = samples[static_cast<std::size_t>(v)];
            for (const Samples* s : {&huge, &ordinary}) {
                double stalls = 0;
                for (double n : s->stalls) stalls += n;
                std::printf(" %5.0f (%5.0f) %5.0f (%5.0f) %6.0f %3.0f %3.0f |", median(s->ms),
                            *std::max_element(s->ms.begin(), s->ms.end()), median(s->cpu),
                            *std::max_element(s->cpu.begin(), s->cpu.end()), median(s->faults), median(s->hugeFaults), stalls);
            }
            std::printf(" %5.2f %5.2f\n", median(huge.ms) / median(ordinary.ms), median(huge.cpu) / median(ordinary.cpu));
        }
        std::fflush(stdout);
    }
    imaging_force_fast_paths(nullptr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string keep, batch, only;
    PagesRun how;
    bool pages = false;
    for (int i = 1; i < argc; ++i) {
        const bool value = i + 1 < argc;
        // The helper --fragmented starts.
        if (!std::strcmp(argv[i], "--touch") && value) return touchMemory(std::strtoul(argv[i + 1], nullptr, 10));
        if (!std::strcmp(argv[i], "--keep") && value) keep = argv[++i];
        else if (!std::strcmp(argv[i], "--runs") && value) how.runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--kind") && value) only = argv[++i];
        else if (!std::strcmp(argv[i], "--raw")) how.raw = true;
        else if (!std::strcmp(argv[i], "--batch") && value) batch = argv[++i];
        else if (!std::strcmp(argv[i], "--pages")) pages = true;
        else if (!std::strcmp(argv[i], "--fragmented")) {
            pages = true;
            const bool size = value && std::isdigit(static_cast<unsigned char>(argv[i + 1][0]));
            how.fragmentMiB = size ? std::max(1, std::atoi(argv[++i])) : 1024;
        } else {
            std::fprintf(stderr, "usage: %s [--keep DIR] [--runs N] [--kind NAME] [--pages | --fragmented [MIB]] [--raw] | --batch DIR\n",
                         argv[0]);
            return 2;
        }
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
        // Rarer codings; an embedded JPEG is written out as it is, not encoded.
        {"rle8-imagemagick", 1920, 1080, 8, BI_RLE8, false},
        {"rle24-os2", 1920, 1080, 24, fixture::kOs2Rle24, false},
        {"huffman-os2", 1920, 1080, 1, fixture::kOs2Huffman1D, false},
        {"embedded-png", 1920, 1080, 0, BI_PNG, false},
        {"embedded-jpeg", 1920, 1080, 0, BI_JPEG, false},
    };
    // Buffers from 2 MiB (1024x768 at 24 bits just above) to 72 MiB.
    const Kind pageKinds[] = {
        kinds[0],
        {"rgb24-3000x2000", 3000, 2000, 24, BI_RGB, false},
        kinds[1],
        kinds[2],
        kinds[4],
        kinds[5],
        {"rgb24-1024x768", 1024, 768, 24, BI_RGB, false},
    };
    std::vector<std::pair<Kind, std::string>> files;
    const std::vector<Kind> chosen = pages ? std::vector<Kind>(std::begin(pageKinds), std::end(pageKinds))
                                           : std::vector<Kind>(std::begin(kinds), std::end(kinds));
    for (const Kind& k : chosen) {
        if (!only.empty() && only != k.name) continue;
        const std::string in = (dir / (std::string(k.name) + ".bmp")).string();
        if (!fixture::writeFile(in, fixture::encode(variantFor(k), pictureFor(k)))) {
            std::fprintf(stderr, "cannot write %s\n", in.c_str());
            return 1;
        }
        files.emplace_back(k, in);
    }
    if (files.empty()) {
        std::fprintf(stderr, "no kind is named %s\n", only.c_str());
        if (keep.empty()) fs::remove_all(dir);
        return 2;
    }
    if (pages) {
        const int rc = comparePages(files, dir, how);
        if (keep.empty()) fs::remove_all(dir);
        return rc;
    }

    std::printf("%-18s %12s %12s %8s\n", "kind", "whole MP/s", "floor MP/s", "ratio");
    for (const auto& [k, in] : files) {
        const std::string out = (dir / (std::string(k.name) + ".jpg")).string();
        const double mp = static_cast<double>(k.width) * k.height / 1e6;
        const Pixels px = decoded(in);
        // Whole and floor in rounds of three runs each, so that a change in
        // the machine's load does not bend the ratio, while each still runs
        // as it does in a batch, after one of its own kind; each keeps its
        // best run. Each conversion writes a new JPEG, as converting a folder
        // does: replacing one makes the file system flush it first.
        double whole = 1e9, floor = 1e9;
        const int runs = how.runs;
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
