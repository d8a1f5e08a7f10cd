#include "conversion_run.h"

#include "file_names.h"
#include "imaging.h"
#include "run_hooks.h"
#include "work_ahead.h"

#include <QElapsedTimer>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// With --delete, the JPEGs of consecutive finished entries are named first
// and then made durable together, with one flush of their file system rather
// than two flushes each: a run of small files would otherwise wait on the
// disk most of its time. Their bitmaps go only after that flush.
constexpr int kMostInGroup = 64;
constexpr std::size_t kGroupBudget = std::size_t{256} << 20;
constexpr decltype(statfs::f_type) kFuseMagic = 0x65735546;

RemoveHook& removeHook() {
    static RemoveHook hook;
    return hook;
}
std::atomic<bool> fileByFile{false};

int removeFile(const QString& path) {
    if (removeHook()) return removeHook()(path);
    return ::unlink(systemPath(path).c_str()) == 0 ? 0 : errno;
}

bool flush(const QString& path, bool wholeFileSystem = false) {
    const int fd = ::open(systemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool done = (wholeFileSystem ? ::syncfs(fd) : ::fsync(fd)) == 0 || errno == EINVAL;  // EINVAL: nothing to flush
    ::close(fd);
    return done;
}

QString folderOf(const QString& path) { return folderPart(absolutePathOf(path)); }

// Puts the JPEGs and their names on the disk: several with one flush of each
// file system they are on, else each file and then each folder; which of
// them surely are there.
std::vector<bool> makeDurable(const QStringList& jpegs) {
    QSet<QString> folders;
    for (const QString& jpeg : jpegs) folders.insert(folderOf(jpeg));
    if (jpegs.size() > 1 && !fileByFile) {
        bool flushed = true;
        QSet<dev_t> done;
        for (const QString& folder : std::as_const(folders)) {
            // A FUSE file system hears of a flush only file by file.
            struct stat st {};
            struct statfs fs {};
            flushed = flushed && ::stat(systemPath(folder).c_str(), &st) == 0 &&
                      ::statfs(systemPath(folder).c_str(), &fs) == 0 && fs.f_type != kFuseMagic;
            if (!flushed || done.contains(st.st_dev)) continue;
            done.insert(st.st_dev);
            flushed = flush(folder, true);
        }
        if (flushed) return std::vector<bool>(static_cast<std::size_t>(jpegs.size()), true);
    }
    std::vector<bool> durable;
    for (const QString& jpeg : jpegs) durable.push_back(flush(jpeg));
    QSet<QString> failedFolders;
    for (const QString& folder : std::as_const(folders))
        if (!flush(folder)) failedFolders.insert(folder);
    for (qsizetype i = 0; i < jpegs.size(); ++i)
        if (failedFolders.contains(folderOf(jpegs[i]))) durable[static_cast<std::size_t>(i)] = false;
    return durable;
}

const QString kAnotherFile = QStringLiteral("Another file of this run has just written it");
const QString kASource = QStringLiteral("It would replace a bitmap this run converts");
const QString kThereAlready = QStringLiteral("A file of that name is there already, and a run that deletes bitmaps replaces none");

}  // namespace

RemoveHook setRemoveHook(RemoveHook hook) { return std::exchange(removeHook(), std::move(hook)); }
void flushFileByFile(bool on) { fileByFile = on; }

QString jpegNameOf(const QString& path) { return baseNameOf(path) + QStringLiteral(".jpg"); }

struct ConversionRun::State {
    State(const QList<RunEntry>& entries, RunSettings s);

    EntryReport turn();
    ImageResult resultOf(int k, ImageWork work);
    void name(int k, ImageResult& result, EntryReport& report);
    void deletion(int k, const ImageResult& result, bool durable, EntryReport& report) const;

    RunSettings settings;
    QStringList sources, targets;
    std::unique_ptr<WorkAhead> ahead;
    std::shared_ptr<RunMemory> memory = settings.memory ? settings.memory : std::make_shared<RunMemory>();
    WrittenTargets& written = memory->written;
    RunSources& runSources = memory->sources;
    std::atomic<int> askedToStop{0};
    bool stopping() const { return askedToStop != 0 || (settings.stop != nullptr && *settings.stop != 0); }
    int asked = 0;  // turns asked for
    int done = 0;  // entries whose turn is over (on the run's thread)
    std::deque<EntryReport> ready;  // turns a group has done ahead of their asking
    QThreadPool deleters;
    QThreadPool thread;
};

ConversionRun::State::State(const QList<RunEntry>& entries, RunSettings s) : settings(s) {
    for (const RunEntry& e : entries) {
        sources << e.source;
        targets << e.target;
        runSources.add(e.source);
    }
    const int width = settings.width > 0 ? settings.width : std::max(1, QThread::idealThreadCount()) + 1;
    std::size_t budget = settings.budget > 0 ? settings.budget : workAheadBudget();
    // Groups need finished work to gather, and the workers work while a group
    // goes to the disk: many small files ahead, but no more memory than a few photos.
    int ahead_ = width;
    if (settings.deleteSources) {
        ahead_ = std::max(width, 4 * kMostInGroup);
        budget = std::min(budget, kGroupBudget);
    }
    ahead = std::make_unique<WorkAhead>(sources, targets, settings.jpeg, budget, ahead_,
                                        [this] { return stopping(); });
    thread.setMaxThreadCount(1);
    deleters.setMaxThreadCount(4);
    thread.setExpiryTimeout(-1);
}

ImageResult ConversionRun::State::resultOf(int k, ImageWork work) {
    if (!work.isValid()) return convertImage(sources[k], targets[k], settings.jpeg);
    ImageResult result = work.result();
    if (result.outcome != ImageOutcome::CannotSave || !result.why.isEmpty()) return result;
    // Made ahead, it competed for the disk with the JPEGs before it; in its
    // turn, once they have freed what they could, it gets another try, and
    // one more once whatever was made ahead of it has given its room back.
    result = convertImage(sources[k], targets[k], settings.jpeg);
    if (result.outcome == ImageOutcome::CannotSave && (result.osError == ENOSPC || result.osError == EDQUOT)) {
        ahead->dropAll();
        result = convertImage(sources[k], targets[k], settings.jpeg);
    }
    return result;
}

void ConversionRun::State::name(int k, ImageResult& result, EntryReport& report) {
    const QString& target = targets[k];
    QElapsedTimer clock;
    clock.start();
    bool kept = false;  // the name is taken, and keepExisting leaves it so
    if (result.outcome == ImageOutcome::Written) {
        if (written.contains(target)) {
            result.refuse(kAnotherFile);
        } else if (runSources.named(target)) {
            result.refuse(kASource);
        } else if (struct stat st {}; !settings.replaceExisting && ::lstat(result.targetPath->c_str(), &st) == 0) {
            // An interrupted run may have named this very JPEG and not yet deleted its bitmap.
            if (S_ISREG(st.st_mode) && result.jpeg && result.jpeg->sameBytesAs(result.targetPath->c_str()) == 1) {
                result.jpeg.reset();
                written.add(target);
            } else if (settings.keepExisting) {
                result.jpeg.reset();
                kept = true;
            } else {
                result.refuse(kThereAlready);
            }
        } else if (result.commit(settings.replaceExisting, settings.preserve)) {
            written.add(target);
        } else if (result.osError == EEXIST) {
            // Named by someone else since the look above: theirs stays.
            kept = settings.keepExisting;
            result.refuse(kThereAlready);
        }
    }
    report.skipped = kept;
    report.converted = !kept && result.outcome == ImageOutcome::Written;
    report.failure = kept ? QString() : failureText(result, sources[k], target);
    report.outcome = result.outcome;
    report.osError = result.osError;
    if (!report.converted && !kept)
        report.reason = result.outcome == ImageOutcome::NoMemory ? memoryNeed(result) : result.reason();
    report.seconds = result.seconds + static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (result.outcome == ImageOutcome::CannotSave && result.why.isEmpty()) {
        const int e = result.osError;
        struct stat folder {};
        report.targetLost = e == ENOSPC || e == EDQUOT || e == EROFS || e == ENODEV || e == ENXIO || e == EIO ||
                            (e == ENOENT && !(::stat(systemPath(folderOf(target)).c_str(), &folder) == 0 && S_ISDIR(folder.st_mode)));
    }
}

void ConversionRun::State::deletion(int k, const ImageResult& result, bool durable, EntryReport& report) const {
    const QString& source = sources[k];
    QString& why = report.deletionReason;
    const std::optional<FileStamp> now = durable ? fileStampOf(source) : std::nullopt;
    if (!durable) {
        why = QStringLiteral("Its JPEG could not be flushed to the disk");
    } else if (!now) {
        why = QStringLiteral("Another program deleted it meanwhile");
    } else if (!result.source || *now != *result.source) {
        why = QStringLiteral("It was changed while it was being converted");
    } else if (const int error = removeFile(source); error == 0) {
        return;
    } else if (error > 0) {
        why = QString::fromLocal8Bit(std::strerror(error));
    }
    report.deletion = QStringLiteral("Cannot delete file ") + source + (why.isEmpty() ? QString() : QLatin1Char('\n') + why);
}

EntryReport ConversionRun::State::turn() {
    if (!ready.empty()) {
        EntryReport report = ready.front();
        ready.pop_front();
        return report;
    }
    const int k = done;
    const bool stop = stopping();
    if (!stop) ahead->startAhead(k, written);
    ImageWork first = ahead->take(k);
    // Once stopped, only what was under way is finished.
    if (stop && (!first.isValid() || !first.result().begun)) {
        EntryReport report;
        report.index = k;
        return report;
    }

    // The entry in its turn, and with --delete the finished ones after it.
    std::vector<std::pair<int, ImageResult>> group;
    group.emplace_back(k, resultOf(k, first));
    if (settings.deleteSources) {
        // Only what is finished already: a group never holds back a report.
        for (int j = k + 1; j < sources.size() && int(group.size()) < kMostInGroup && ahead->started(j) && !stopping(); ++j) {
            ImageWork work = ahead->peek(j);
            if (!work.isFinished()) break;
            const ImageResult result = work.result();
            // A failed save is tried again in its own turn, after the deletions before it.
            if (!result.begun || (result.outcome == ImageOutcome::CannotSave && result.why.isEmpty())) break;
            group.emplace_back(j, ahead->take(j).result());
        }
    }

    std::vector<EntryReport> reports;
    std::vector<std::size_t> toDelete;
    for (auto& [j, result] : group) {
        EntryReport report;
        report.index = j;
        report.started = true;
        name(j, result, report);
        if (report.converted && settings.deleteSources && isBitmapName(sources[j])) toDelete.push_back(reports.size());
        reports.push_back(report);
    }
    done = reports.back().index + 1;
    // The next files are converted while this group's go to the disk.
    if (!stopping()) ahead->startAhead(done, written, k);
    if (!toDelete.empty()) {
        // Every JPEG on the disk, named, before any of their bitmaps goes.
        QStringList jpegs;
        for (const std::size_t i : toDelete) jpegs << targets[reports[i].index];
        const std::vector<bool> durable = makeDurable(jpegs);
        // Each bitmap checked and deleted on its own (a slow file system answers several at once).
        // Plain tasks and their futures, whose hand-over the thread checker is told of.
        const auto remove = [&](std::size_t n) {
            deletion(reports[toDelete[n]].index, group[toDelete[n]].second, durable[n], reports[toDelete[n]]);
        };
        QList<QFuture<void>> others;
        for (std::size_t n = 1; n < toDelete.size(); ++n) others << QtConcurrent::run(&deleters, remove, n);
        remove(0);
        for (QFuture<void>& other : others) other.waitForFinished();
        for (const std::size_t i : toDelete)
            if (reports[i].deletion.isEmpty()) runSources.forget(sources[reports[i].index]);
    }
    if (!stopping()) ahead->startAhead(done, written);
    for (std::size_t i = 1; i < reports.size(); ++i) ready.push_back(reports[i]);
    return reports.front();
}

ConversionRun::ConversionRun(const QList<RunEntry>& entries, RunSettings settings)
    : d_(std::make_unique<State>(entries, settings)) {}

ConversionRun::~ConversionRun() { d_->thread.waitForDone(); }

int ConversionRun::size() const { return static_cast<int>(d_->sources.size()); }

QFuture<EntryReport> ConversionRun::next() {
    if (d_->asked >= size()) return {};
    ++d_->asked;
    return QtConcurrent::run(&d_->thread, [state = d_.get()] { return state->turn(); });
}

void ConversionRun::stop() { d_->askedToStop = 1; }

QFuture<void> ConversionRun::setAside() {
    return QtConcurrent::run(&d_->thread, [state = d_.get()] { state->ahead->dropAll(); });
}

std::size_t ConversionRun::peakBytes() const { return d_->ahead->peakBytes(); }
