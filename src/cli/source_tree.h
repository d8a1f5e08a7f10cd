// Which bitmaps a command-line run converts, and where each JPEG goes.
#pragma once

#include "convert_options.h"

#include <QString>
#include <functional>
#include <vector>

struct ConversionJob {
    QString source;
    QString target;
    qint64 bytes = 0;  // the source's size, for the progress figures
    QString skip;  // why it is left alone ("JPEG up to date"); empty: it is converted
};

struct JobList {
    std::vector<ConversionJob> jobs;
    int failed = 0;  // paths and folders that could not be read
    int skipped = 0;  // bitmaps whose JPEG is up to date (--skip-existing) or exists (--no-clobber), listed too
};

// Walks the paths (and the --files-from list) in order. A folder gives the
// bitmaps (*.bmp, any letter case, not hidden) directly in it, and with
// --recursive those in the folders below, without following symbolic links
// to folders; a file is taken whatever its name. The same source for the
// same target is taken once. Each failure goes to `fail` as it is met.
JobList collectJobs(const ConvertOptions& options, const std::function<void(const QString&)>& fail);

// Reads the --files-from list; nothing when it cannot be opened.
std::optional<QStringList> readPathList(const QString& file, bool nulSeparated);
