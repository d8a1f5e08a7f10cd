// Every fast path the imaging layer may take is decided here, and only here:
// the processor is asked once, and PELLICOR_FAST_PATHS may hold any path
// back, for tests and for a user whose machine misbehaves on one.
//
//   PELLICOR_FAST_PATHS="avx2,no-recycling"
//
// Words, separated by commas or blanks:
//   plain | avx2 | avx512   the widest vector code the loops may use (never
//                           wider than the processor runs)
//   no-second-processor     large reads stay on the converting thread
//   no-recycling            every picture gets new memory
//   no-huge-pages           large buffers get ordinary pages
//   no-own-converter        palette rows go through libjpeg's own colour converter
//   none                    all of the above: the plain path throughout
#pragma once

#include "imaging.h"

#include <string>

namespace imaging {

// Instruction levels, each including the ones before it.
enum class Level { Plain, Avx2, Avx512 };

struct FastPaths {
    Level level = Level::Plain;
    bool secondProcessor = false;  // share large reads with a helper thread
    bool recycling = false;        // keep freed buffers for the next picture
    bool hugePages = false;        // huge pages for large buffers
    bool ownConverter = false;     // palette indices straight to Y, Cb, Cr
};

// The paths in force: what the machine offers, less what the environment
// (or a test, see imaging_force_fast_paths) holds back.
FastPaths fastPaths();

// Whether palette rows of `depth` bits go to libjpeg as indices, for a colour
// converter of ours to take straight to Y, Cb and Cr. 1-, 2- and 4-bit rows
// do: a packed byte is one look-up. 8-bit rows only where a register holds
// a whole table (AVX-512 VBMI): a look-up per index is slower than libjpeg's
// own vector conversion of B, G, R, X. Never for a grayscale JPEG: libjpeg
// wants the luminance alone of its converter. (The other options act after
// the colours are converted.)
bool ownConverterFor(const FastPaths& paths, int depth, const JpegOptions& options = {});

// The widest level this build and this processor run.
Level machineLevel();
// How many processors the machine has (at least 1).
int machineProcessors();
const char* levelName(Level level);

// Reads words as PELLICOR_FAST_PATHS holds them, on top of `paths`; the
// level is capped at `machine`. Words it does not know go to `unknown`.
FastPaths parseFastPaths(const char* words, FastPaths paths, Level machine, std::string* unknown = nullptr);

// How often each path was taken since the process started, so that tests
// can tell a path that runs from one that is merely allowed.
enum class PathUse { RecycledBuffer, HelperThread, HugePages, OwnConverter, Count };
void notePathUse(PathUse use);
unsigned long long pathUses(PathUse use);

}  // namespace imaging

// Vector code for levels above plain is built only where the compiler can
// target them, and never under ThreadSanitizer, which must not see the
// processor's wider instructions in its interceptors' callers.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define IMAGING_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define IMAGING_THREAD_SANITIZER 1
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(IMAGING_THREAD_SANITIZER)
#define IMAGING_X86_LEVELS 1
#endif
