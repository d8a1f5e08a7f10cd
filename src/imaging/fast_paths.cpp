#include "fast_paths.h"

#include "testing_hooks.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace imaging {
namespace {

FastPaths everything(Level level) { return {level, true, true, true, true}; }

// Paths as one word, so that a test can replace them while other threads read.
std::uint32_t pack(const FastPaths& p) {
    return static_cast<std::uint32_t>(p.level) | p.secondProcessor << 4 | p.recycling << 5 | p.hugePages << 6 |
           p.ownConverter << 7;
}
FastPaths unpack(std::uint32_t v) {
    return {static_cast<Level>(v & 15u), (v >> 4 & 1u) != 0, (v >> 5 & 1u) != 0, (v >> 6 & 1u) != 0, (v >> 7 & 1u) != 0};
}

FastPaths fromEnvironment() {
    const Level machine = machineLevel();
    std::string unknown;
    const FastPaths p = parseFastPaths(std::getenv("PELLICOR_FAST_PATHS"), everything(machine), machine, &unknown);
    if (!unknown.empty()) std::fprintf(stderr, "pellicor: PELLICOR_FAST_PATHS: ignored %s\n", unknown.c_str());
    return p;
}

std::atomic<std::uint32_t>& inForce() {
    static std::atomic<std::uint32_t> paths{pack(fromEnvironment())};
    return paths;
}

std::array<std::atomic<unsigned long long>, static_cast<std::size_t>(PathUse::Count)> g_uses{};

}  // namespace

Level machineLevel() {
    static const Level level = [] {
#ifdef IMAGING_X86_LEVELS
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi"))
            return Level::Avx512;
        if (__builtin_cpu_supports("avx2")) return Level::Avx2;
#endif
        return Level::Plain;
    }();
    return level;
}

int machineProcessors() {
    static const int processors = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    return processors;
}

const char* levelName(Level level) {
    switch (level) {
    case Level::Plain: return "plain";
    case Level::Avx2: return "avx2";
    case Level::Avx512: return "avx512";
    }
    return "plain";
}

FastPaths parseFastPaths(const char* words, FastPaths p, Level machine, std::string* unknown) {
    if (words == nullptr) return p;
    const std::string text(words);
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find_first_of(", \t", at);
        const std::string word = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (word.empty()) continue;
        bool known = true;
        if (word == "plain" || word == "avx2" || word == "avx512")
            p.level = std::min(word == "plain" ? Level::Plain : word == "avx2" ? Level::Avx2 : Level::Avx512, machine);
        else if (word == "no-second-processor")
            p.secondProcessor = false;
        else if (word == "no-recycling")
            p.recycling = false;
        else if (word == "no-huge-pages")
            p.hugePages = false;
        else if (word == "no-own-converter")
            p.ownConverter = false;
        else if (word == "none")
            p = FastPaths{};
        else
            known = false;
        if (!known && unknown != nullptr) *unknown += (unknown->empty() ? "" : " ") + ("\"" + word + "\"");
    }
    return p;
}

bool ownConverterFor(const FastPaths& paths, int depth, const JpegOptions& options) {
    if (!paths.ownConverter || options.grayscale) return false;
    return depth == 1 || depth == 2 || depth == 4 || (depth == 8 && paths.level >= Level::Avx512);
}

FastPaths fastPaths() { return unpack(inForce().load(std::memory_order_relaxed)); }

void notePathUse(PathUse use) { g_uses[static_cast<std::size_t>(use)].fetch_add(1, std::memory_order_relaxed); }
unsigned long long pathUses(PathUse use) { return g_uses[static_cast<std::size_t>(use)].load(std::memory_order_relaxed); }

}  // namespace imaging

bool imaging_force_fast_paths(const char* words) {
    using namespace imaging;
    std::string unknown;
    const FastPaths p = words == nullptr ? fromEnvironment() : parseFastPaths(words, everything(machineLevel()), machineLevel(), &unknown);
    inForce().store(pack(p));
    return unknown.empty();
}
