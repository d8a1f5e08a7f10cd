#include "command_line.h"

#include "batch_run.h"
#include "conversion_run.h"
#include "convert_options.h"
#include "file_names.h"
#include "progress.h"
#include "run_log.h"
#include "shown_name.h"
#include "source_tree.h"
#include "work_ahead.h"

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
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
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored from the start (nohup, a background job of a script) stays ignored.
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
    // A reader of our messages that went away (| head) must not stop a JPEG half named.
    ::signal(SIGPIPE, SIG_IGN);
}

// Jobs on their way from the thread that reads the list and walks its paths
// to the run: a bounded number, however long the list.
class JobQueue {
public:
    static constexpr std::size_t kMostWaiting = 4096;

    // Waits while the queue is full; false once the run takes no more.
    bool put(ConversionJob job) {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [this] { return jobs_.size() < kMostWaiting || abandoned_; });
        if (abandoned_) return false;
        if (job.skip.isEmpty()) ++files_;
        bytes_ += job.bytes;
        jobs_.push_back(std::move(job));
        ready_.notify_all();
        return true;
    }
    void close() {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        ready_.notify_all();
    }
    void abandon() {
        const std::lock_guard lock(mutex_);
        abandoned_ = true;
        room_.notify_all();
    }
    bool abandoned() {
        const std::lock_guard lock(mutex_);
        return abandoned_;
    }
    std::pair<qint64, qint64> total() {
        const std::lock_guard lock(mutex_);
        return {files_, bytes_};
    }
    // What has come, once there is some: each batch is a run of its own, which
    // slows down as it ends, so a batch waits a moment for enough to keep every job busy.
    // Empty at the end of the list.
    std::vector<ConversionJob> take(std::size_t enough) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !jobs_.empty() || closed_; });
        ready_.wait_for(lock, std::chrono::milliseconds(50), [&] { return jobs_.size() >= enough || closed_; });
        std::vector<ConversionJob> batch(std::make_move_iterator(jobs_.begin()), std::make_move_iterator(jobs_.end()));
        jobs_.clear();
        room_.notify_all();
        return batch;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<ConversionJob> jobs_;
    bool closed_ = false;
    bool abandoned_ = false;
    qint64 files_ = 0, bytes_ = 0;
};

// Converts the paths and the --files-from list while the list is still being
// written: a thread reads and walks, the run converts what it has found so far.
void convertAsListed(const ConvertOptions& options, PathList& list, Progress& progress, RunCounts& counts, RunLog* log) {
    JobQueue queue;
    const auto fail = [&progress](const QString& line) { progress.failure(line); };
    SourceWalker walker(options, fail, [&queue](ConversionJob job) { return stopSignal == 0 && queue.put(std::move(job)); });
    progress.start(options.dryRun ? 0 : -1, 0);
    std::thread reader([&] {
        const auto stopped = [&queue] { return stopSignal != 0 || queue.abandoned(); };
        for (const QString& path : options.paths) walker.add(path);
        while (const std::optional<QString> path = list.next(stopped)) walker.add(*path);
        if (list.error() != 0) {
            fail(QStringLiteral("pellicor: cannot read the list of files %1: %2")
                     .arg(shownName(options.filesFrom), QString::fromLocal8Bit(std::strerror(list.error()))));
        }
        const auto [files, bytes] = queue.total();
        progress.setTotal(files, bytes);
        queue.close();
    });
    const auto memory = std::make_shared<RunMemory>();
    while (stopSignal == 0) {
        const std::vector<ConversionJob> batch = queue.take(2 * static_cast<std::size_t>(options.jobs));
        if (batch.empty()) break;
        convertJobs(batch, options, progress, counts, stopSignal, log, memory);
    }
    queue.abandon();
    reader.join();
    counts.failed += walker.failed();
    counts.skipped += walker.skipped();
    if (list.error() != 0) counts.unfinished = true;
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
    const ConvertOptions& options = std::get<ConvertOptions>(parsed);
    std::optional<PathList> list;
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
        list.emplace(options.filesFrom, options.nulSeparated);
        if (list->error() != 0) {
            std::fprintf(stderr, "pellicor: cannot read the list of files %s: %s\n",
                         shownName(options.filesFrom).toLocal8Bit().constData(), std::strerror(list->error()));
            return kExitUsage;
        }
    }

    Progress progress(options.quiet, ::isatty(STDERR_FILENO) == 1);
    RunCounts counts;
    if (list) {
        quietRun = options.quiet;
        catchStopSignals();
        convertAsListed(options, *list, progress, counts, log.get());
    } else {
        // Until files are written, a stop needs no care.
        const JobList found = collectJobs(options, [&progress](const QString& line) { progress.failure(line); });
        quietRun = options.quiet;
        catchStopSignals();
        counts.failed = found.failed;
        counts.skipped = found.skipped;
        qint64 files = 0, bytes = 0;
        for (const ConversionJob& job : found.jobs) {
            files += job.skip.isEmpty() ? 1 : 0;
            bytes += job.bytes;
        }
        progress.start(options.dryRun ? 0 : files, bytes);  // a dry run's list has no bar over it
        convertJobs(found.jobs, options, progress, counts, stopSignal, log.get());
    }
    progress.finish(counts);
    if (const int signal = stopSignal.load(); signal != 0) dieBy(signal);
    const int status = counts.failed > 0 || counts.unfinished ? kExitFailed : kExitOk;
    // A dry run's list that never reached its reader (> /dev/full) is a failure, as --help's is.
    return options.dryRun ? closeOutput(status) : status;
}
