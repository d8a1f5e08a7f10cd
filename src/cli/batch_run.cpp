#include "batch_run.h"

#include "conversion_run.h"
#include "file_names.h"
#include "run_log.h"
#include "shown_name.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QThreadPool>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

// One line each: the window's first line, then why (a file's name may hold line breaks of its own).
QString oneLine(QString text) {
    if (const qsizetype cut = text.lastIndexOf(QLatin1Char('\n')); cut >= 0) text.replace(cut, 1, QStringLiteral(": "));
    return text;
}

// "convert a.bmp -> a.jpg", "skip b.bmp (JPEG up to date)", "delete a.bmp": one line each, nothing touched.
void listJobs(const std::vector<ConversionJob>& jobs, const ConvertOptions& options, RunCounts& counts) {
    counts.planned = true;
    QString text;
    for (const ConversionJob& job : jobs) {
        if (!job.skip.isEmpty()) {
            text += QStringLiteral("skip %1 (%2)\n").arg(shownName(job.source), job.skip);
            continue;
        }
        ++counts.converted;
        text += QStringLiteral("convert %1 -> %2\n").arg(shownName(job.source), shownName(job.target));
        if (options.deleteSources && isBitmapName(job.source)) text += QStringLiteral("delete %1\n").arg(shownName(job.source));
    }
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

// The JPEG's size, for the log; 0 when there is none.
qint64 sizeOf(const QString& path) {
    struct stat st {};
    return ::stat(fileNameBytes(path).constData(), &st) == 0 ? static_cast<qint64>(st.st_size) : 0;
}

}  // namespace

void convertJobs(const std::vector<ConversionJob>& jobs, const ConvertOptions& options, Progress& progress,
                 RunCounts& counts, const std::atomic<int>& stop, RunLog* log) {
    if (options.dryRun) return listJobs(jobs, options, counts);
    bool logFailed = false;
    const auto logLine = [&](const ConversionJob& job, const char* outcome, const QString& reason, double seconds) {
        if (log == nullptr || logFailed) return;
        if (log->add(job.source, job.target, outcome, reason, std::strcmp(outcome, "failed") == 0 ? 0 : sizeOf(job.target),
                     seconds))
            return;
        logFailed = true;  // said once; the run goes on
        progress.failure(QStringLiteral("pellicor: cannot write the log %1: %2")
                             .arg(shownName(log->file()), QString::fromLocal8Bit(std::strerror(log->error()))));
        counts.unfinished = true;
    };
    QList<RunEntry> entries;
    QSet<QString> folders;
    for (const ConversionJob& job : jobs) {
        if (!job.skip.isEmpty()) continue;
        entries.append({job.source, job.target});
        if (!options.outputDir.isEmpty()) folders.insert(QFileInfo(job.target).path());
    }
    // A folder that cannot be made fails its files when they are saved.
    for (const QString& folder : std::as_const(folders)) QDir().mkpath(folder);

    QThreadPool::globalInstance()->setMaxThreadCount(options.jobs);
    // Twice as many started as running: a thread that finishes early finds its next file queued.
    // A run that deletes never replaces a picture it did not make.
    // A stop asked for (Ctrl-C) reaches the run at once: what was begun is finished, nothing new begins.
    // With --no-clobber, an existing JPEG also stays when it appears after the walk.
    RunSettings settings{options.quality, options.deleteSources, !options.deleteSources && !options.noClobber,
                         2 * options.jobs, 0, &stop};
    settings.preserve = options.preserve;
    settings.keepExisting = options.noClobber;
    ConversionRun run(entries, settings);
    for (const ConversionJob& job : jobs) {
        if (!job.skip.isEmpty()) {
            logLine(job, "skipped", job.skip, 0);
            continue;
        }
        const EntryReport report = run.next().result();
        if (!report.started) break;
        ++(report.converted ? counts.converted : report.skipped ? counts.skipped : counts.failed);
        for (const QString& line : {report.failure, report.deletion}) {
            if (line.isEmpty()) continue;
            progress.failure(oneLine(line));
            counts.unfinished = true;
        }
        // "kept": converted, but its bitmap stayed although --delete asked.
        logLine(job, report.skipped ? "skipped" : !report.converted ? "failed" : report.deletion.isEmpty() ? "converted" : "kept",
                report.skipped ? QStringLiteral("JPEG exists") : report.reason, report.seconds);
        progress.fileDone(job.bytes);
    }
}
