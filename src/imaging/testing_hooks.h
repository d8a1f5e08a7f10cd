// Hooks that let tests make the imaging layer fail, or work, as real media would.
// Not for the program itself; all are safe to set while other threads convert.
#pragma once

// The JPEG writer fails once it has written this many bytes of a file, as a
// full disk would (negative: never).
void imaging_fail_writes_after(long long bytes);

// Reads of a bitmap that reach this byte offset fail with an I/O error, as a
// flaky stick or network share would (negative: never).
void imaging_fail_reads_from(long long offset);

// Saves as on file systems without unnamed files, hard links or an atomic
// rename that never replaces (FUSE, some network shares): through a named
// temporary, and a look at the target's name before renaming onto it.
void imaging_force_plain_files(bool on);

// The most memory one picture may hold at once, in place of half the
// machine's (0: the machine's again), so tests show both sides of the limit.
void imaging_set_memory_limit(unsigned long long bytes);

// Paths as PELLICOR_FAST_PATHS would set them, starting from everything the
// machine offers ("plain", "avx2,no-recycling", "none"); null: the
// environment's again. False when the words hold one it does not know.
bool imaging_force_fast_paths(const char* words);
