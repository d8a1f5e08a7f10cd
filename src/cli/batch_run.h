// Converting a list of bitmaps from the command line through the run the
// window uses too, on --jobs threads, and saying what became of each.
#pragma once

#include "progress.h"
#include "source_tree.h"

#include <atomic>
#include <memory>

class RunLog;
struct RunMemory;

// Converts the jobs (those to skip are only logged) and adds to `counts`.
// Once `stop` is set, no further file is started; those already under way
// are finished and named. A dry run lists on standard output what it would do.
// Batches of one list share `memory`, so that one never replaces another's JPEG.
void convertJobs(const std::vector<ConversionJob>& jobs, const ConvertOptions& options, Progress& progress,
                 RunCounts& counts, const std::atomic<int>& stop, RunLog* log = nullptr,
                 std::shared_ptr<RunMemory> memory = nullptr);
