// What `pellicor --convert` was asked to do, read from its arguments.
#pragma once

#include "imaging.h"

#include <QString>
#include <QStringList>
#include <variant>

struct ConvertOptions {
    JpegOptions jpeg;  // quality, sampling, progressive, optimize, grayscale
    bool deleteSources = false;
    bool recursive = false;
    QString outputDir;  // empty: each JPEG beside its bitmap
    int jobs = 1;
    bool skipExisting = false;
    bool quiet = false;
    QStringList paths;  // files and folders, in the order given
    QString filesFrom;  // a file of further paths; "-" is standard input
    bool nulSeparated = false;
    QString base;  // with outputDir: paths keep their folders below this one
    QStringList excludes;  // glob patterns of names (or, holding '/', of paths) left out
    bool preserve = false;  // each JPEG takes its bitmap's modification time and permissions
    bool dryRun = false;  // only say what would be done
    QString logFile;  // a JSON line for each file; "-" is standard output
    bool noClobber = false;  // an existing JPEG is never replaced: its bitmap is skipped
};

// The exit statuses of the command line.
enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// Text already printed (help, version) or a usage error: the run ends with this status.
struct Finished {
    int status = kExitOk;
};

// Which mode the arguments ask for before any of them is read closely:
// true for --convert, --help and --version, which need no window.
bool wantsCommandLine(const QStringList& arguments);

// Reads the arguments (the program name first). Prints help, the version
// or a usage error itself.
std::variant<ConvertOptions, Finished> parseConvertOptions(const QStringList& arguments);
