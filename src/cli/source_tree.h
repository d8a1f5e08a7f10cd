// Which bitmaps a command-line run converts, and where each JPEG goes.
#pragma once

#include "convert_options.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
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

// Walks paths one after another, as they come. A folder gives the bitmaps
// (*.bmp, any letter case, not hidden) directly in it, and with --recursive
// those in the folders below, without following symbolic links to folders; a
// file is taken whatever its name. What --exclude names is left out. The same
// source for the same target is taken once; a second bitmap for a JPEG taken
// already fails. Each failure goes to `fail` as it is met, each job to `take`
// (false from it ends the walk).
class SourceWalker {
public:
    SourceWalker(const ConvertOptions& options, std::function<void(const QString&)> fail,
                 std::function<bool(ConversionJob)> take);
    ~SourceWalker();
    void add(const QString& path);
    int failed() const;
    int skipped() const;

private:
    struct Walk;
    std::unique_ptr<Walk> d_;
};

// Walks the paths of the options (not the --files-from list) in order.
JobList collectJobs(const ConvertOptions& options, const std::function<void(const QString&)>& fail);

// The --files-from list, read a path at a time while whoever writes it is still at work.
class PathList {
public:
    PathList(const QString& file, bool nulSeparated);  // "-": standard input
    ~PathList();
    PathList(const PathList&) = delete;
    PathList& operator=(const PathList&) = delete;
    // The next path; nothing at the end, after a failure to read (error()) or once `stopped` says so.
    std::optional<QString> next(const std::function<bool()>& stopped);
    int error() const { return error_; }  // errno of the failure to open or read; 0 if none

private:
    int fd_ = -1;
    bool ownFd_ = false;
    bool nul_ = false;
    bool ended_ = false;
    int error_ = 0;
    QByteArray buffer_;
    qsizetype pos_ = 0;
};
