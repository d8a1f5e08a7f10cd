// Hooks that let tests make the imaging layer fail where real media would.
// Not for the program itself; both are safe to set while other threads convert.
#pragma once

// The JPEG writer fails once it has written this many bytes of a file, as a
// full disk would (negative: never).
void imaging_fail_writes_after(long long bytes);

// Reads of a bitmap that reach this byte offset fail with an I/O error, as a
// flaky stick or network share would (negative: never).
void imaging_fail_reads_from(long long offset);
