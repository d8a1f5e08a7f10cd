#include "command_line.h"

#include "batch_run.h"
#include "convert_options.h"
#include "progress.h"
#include "run_log.h"
#include "shown_name.h"
#include "source_tree.h"
#include "work_ahead.h"

#include <QCoreApplication>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

// The signal that asked the run to stop (Ctrl-C, the terminal closing, a polite kill).
std::atomic<int> stopSignal{0};
bool quietRun = false;

extern "C" void askToStop(int signal) {
    int none = 0;
    if (!stopSignal.compare_exchange_strong(none, signal)) {
        // Asked twice: stop now. A JPEG not yet named vanishes with the
        // process, and no bitmap is deleted before its JPEG is on disk.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    if (quietRun) return;
    static const char said[] = "\npellicor: stopping once the files under way are done (again to stop at once)\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, said, sizeof said - 1);
}

void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = askToStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
    // A reader of our messages that went away (| head) must not stop a JPEG half named.
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

std::optional<int> runWithoutWindow(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QFile::decodeName(argv[i]);
    if (!wantsCommandLine(arguments)) return std::nullopt;
    QCoreApplication app(argc, argv);
    raiseOpenFileLimit();

    std::variant<ConvertOptions, Finished> parsed = parseConvertOptions(arguments);
    if (const Finished* finished = std::get_if<Finished>(&parsed)) return finished->status;
    ConvertOptions& options = std::get<ConvertOptions>(parsed);
    std::unique_ptr<RunLog> log;
    if (!options.logFile.isEmpty()) {
        log = std::make_unique<RunLog>(options.logFile);
        if (!log->isOpen()) {
            std::fprintf(stderr, "pellicor: cannot open the log %s: %s\n", shownName(options.logFile).toLocal8Bit().constData(),
                         std::strerror(log->error()));
            return kExitUsage;
        }
    }
    if (!options.filesFrom.isEmpty()) {
        const std::optional<QStringList> listed = readPathList(options.filesFrom, options.nulSeparated);
        if (!listed) {
            std::fprintf(stderr, "pellicor: cannot read the list of files %s\n", QFile::encodeName(options.filesFrom).constData());
            return kExitUsage;
        }
        options.paths += *listed;
    }

    Progress progress(options.quiet, ::isatty(STDERR_FILENO) == 1);
    // Until files are written, a stop needs no care.
    const JobList list = collectJobs(options, [&progress](const QString& line) { progress.failure(line); });
    quietRun = options.quiet;
    catchStopSignals();
    RunCounts counts{0, list.failed, list.skipped};
    qint64 files = 0, bytes = 0;
    for (const ConversionJob& job : list.jobs) {
        files += job.skip.isEmpty() ? 1 : 0;
        bytes += job.bytes;
    }
    progress.start(options.dryRun ? 0 : files, bytes);  // a dry run's list has no bar over it
    convertJobs(list.jobs, options, progress, counts, stopSignal, log.get());
    progress.finish(counts);
    if (const int signal = stopSignal.load(); signal != 0) return 128 + signal;
    return counts.failed > 0 || counts.unfinished ? kExitFailed : kExitOk;
}
