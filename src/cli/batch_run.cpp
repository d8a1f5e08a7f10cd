#include "batch_run.h"

#include "work_ahead.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThreadPool>
#include <cerrno>
#include <cstring>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using SourceIds = std::set<std::pair<dev_t, ino_t>>;

bool namesASource(const QString& target, const SourceIds& sources) {
    struct stat st {};
    return ::stat(QFile::encodeName(target).constData(), &st) == 0 && sources.count({st.st_dev, st.st_ino}) > 0;
}

// The one place that decides whether a JPEG gets its name: never a second
// time under one name in a run, never over a bitmap the run converts. Then
// deletes a *.bmp source once its JPEG is on disk. The failure's line, if any.
QString commitAndDelete(const ConversionJob& job, ImageResult& result, WrittenTargets& written, SourceIds& sources,
                        bool deleteSources) {
    if (result.outcome == ImageOutcome::Written) {
        if (written.contains(job.target))
            result.refuse(QStringLiteral("Another file of this run has just written it"));
        else if (namesASource(job.target, sources))
            result.refuse(QStringLiteral("It would replace a bitmap this run converts"));
        else if (result.commit(!deleteSources))  // a run that deletes never replaces a picture it did not make
            written.add(job.target);
        else if (result.osError == EEXIST)
            result.refuse(QStringLiteral("A file of that name is there already, and with --delete none is replaced"));
    }
    // One line each: the window's first line, then why (a file's name may hold line breaks of its own).
    if (result.outcome != ImageOutcome::Written) {
        QString text = failureText(result, job.source, job.target);
        if (const qsizetype cut = text.lastIndexOf(QLatin1Char('\n')); cut >= 0) text.replace(cut, 1, QStringLiteral(": "));
        return text;
    }
    if (deleteSources && isBitmapName(job.source)) {
        if (const QString refusal = deletionRefusal(job.source, job.target, result); !refusal.isEmpty())
            return QStringLiteral("Cannot delete file ") + job.source + QStringLiteral(": ") + refusal;
        if (::unlink(QFile::encodeName(job.source).constData()) != 0)
            return QStringLiteral("Cannot delete file ") + job.source + QStringLiteral(": ") +
                   QString::fromLocal8Bit(std::strerror(errno));
        sources.erase({job.device, job.inode});  // its inode may now be given to a new file
    }
    return {};
}

}  // namespace

void convertJobs(const std::vector<ConversionJob>& jobs, const ConvertOptions& options, Progress& progress,
                 RunCounts& counts, const std::atomic<int>& stop) {
    QStringList sources, targets;
    SourceIds sourceIds;
    QSet<QString> folders;
    for (const ConversionJob& job : jobs) {
        sources << job.source;
        targets << job.target;
        sourceIds.insert({job.device, job.inode});
        if (!options.outputDir.isEmpty()) folders.insert(QFileInfo(job.target).path());
    }
    // A folder that cannot be made fails its files when they are saved.
    for (const QString& folder : std::as_const(folders)) QDir().mkpath(folder);

    QThreadPool::globalInstance()->setMaxThreadCount(options.jobs);
    // Twice as many started as running: a thread that finishes early finds its next file queued.
    WorkAhead ahead(sources, targets, options.quality, workAheadBudget(), 2 * options.jobs);
    WrittenTargets written;
    for (int k = 0; k < static_cast<int>(jobs.size()); ++k) {
        const bool stopping = stop.load() != 0;
        if (!stopping) ahead.startAhead(k, written);
        ImageWork work = ahead.take(k);
        if (stopping && !work.isValid()) break;  // what was started is finished; nothing new begins
        ImageResult result = work.isValid() ? work.result() : convertImage(sources[k], targets[k], options.quality);
        const QString failure = commitAndDelete(jobs[k], result, written, sourceIds, options.deleteSources);
        if (failure.isEmpty()) {
            ++counts.converted;
        } else {
            ++counts.failed;
            progress.failure(failure);
        }
        progress.fileDone(jobs[k].bytes);
    }
}
