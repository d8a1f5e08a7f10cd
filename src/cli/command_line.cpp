#include "command_line.h"

#include "batch_run.h"
#include "convert_options.h"
#include "file_names.h"
#include "progress.h"
#include "source_tree.h"
#include "work_ahead.h"

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored from the start (nohup, a background job of a script) stays ignored.
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
    // A reader of our messages that went away (| head) must not stop a JPEG half named.
    ::signal(SIGPIPE, SIG_IGN);
}

// Once the files under way are done, the process ends by the signal that
// stopped it, so that a calling shell loop or script stops as well.
[[noreturn]] void dieBy(int signal) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);  // not reached: the signal's default is to end the process
}

// What was printed (help, the version) must have reached its reader: a full
// disk or a closed pipe is an error, said as coreutils say it.
int closeOutput(int status) {
    errno = 0;
    const bool failedBefore = std::ferror(stdout) != 0;
    const bool closeFailed = std::fclose(stdout) != 0;
    if (!failedBefore && !closeFailed) return status;
    const int error = errno;
    std::fprintf(stderr, "pellicor: write error%s%s\n", error != 0 ? ": " : "", error != 0 ? std::strerror(error) : "");
    return kExitFailed;
}

}  // namespace

std::optional<int> runWithoutWindow(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << fileNameText(argv[i]);
    if (!wantsCommandLine(arguments)) return std::nullopt;
    QCoreApplication app(argc, argv);
    raiseOpenFileLimit();

    std::variant<ConvertOptions, Finished> parsed = parseConvertOptions(arguments);
    if (const Finished* finished = std::get_if<Finished>(&parsed)) return closeOutput(finished->status);
    ConvertOptions& options = std::get<ConvertOptions>(parsed);
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
    qint64 bytes = 0;
    for (const ConversionJob& job : list.jobs) bytes += job.bytes;
    progress.start(static_cast<qint64>(list.jobs.size()), bytes);
    convertJobs(list.jobs, options, progress, counts, stopSignal);
    progress.finish(counts);
    if (const int signal = stopSignal.load(); signal != 0) dieBy(signal);
    return counts.failed > 0 || counts.unfinished ? kExitFailed : kExitOk;
}
