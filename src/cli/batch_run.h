// Converting a list of bitmaps from the command line, with the window's rules:
// work runs ahead on --jobs threads while the JPEGs are named in list order,
// one place decides whether a JPEG may be named, no run writes a target twice,
// and a source is deleted only once its JPEG is on disk.
#pragma once

#include "progress.h"
#include "source_tree.h"

#include <atomic>

// Converts the jobs and adds to `counts`. Once `stop` is set, no further file
// is started; those already under way are finished and named.
void convertJobs(const std::vector<ConversionJob>& jobs, const ConvertOptions& options, Progress& progress,
                 RunCounts& counts, const std::atomic<int>& stop);
