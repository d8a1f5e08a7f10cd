#include "batch_run.h"

#include "conversion_run.h"
#include "file_names.h"
#include "run_log.h"
#include "shown_name.h"

#include <QSet>
#include <QThreadPool>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

// The command line's own line for a failed step: the names shown as a shell
// takes them (never a raw line break or escape sequence), and the reason apart.
QString failureLine(const EntryReport& report, const ConversionJob& job) {
    const auto line = [](const QString& what, const QString& name, const QString& why) {
        return QStringLiteral("pellicor: ") + what + QLatin1Char(' ') + shownName(name) +
               (why.isEmpty() ? QString() : QStringLiteral(": ") + why);
    };
    switch (report.outcome) {
    case ImageOutcome::Written: break;
    case ImageOutcome::CannotFind:
        if (report.osError == ENOENT || report.osError == ENOTDIR) return line(QStringLiteral("cannot find file"), job.source, report.reason);
        return line(report.osError != 0 ? QStringLiteral("cannot open file") : QStringLiteral("cannot load file"), job.source, report.reason);
    case ImageOutcome::NoMemory:
        return QStringLiteral("pellicor: not enough memory: ") + shownName(job.source) +
               (report.reason.isEmpty() ? QString() : QLatin1Char(' ') + report.reason);
    case ImageOutcome::CannotLoad: return line(QStringLiteral("cannot load file"), job.source, report.reason);
    case ImageOutcome::CannotSave: return line(QStringLiteral("cannot save file"), job.target, report.reason);
    }
    return {};
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
        text += QStringLiteral("convert %1 -> %2").arg(shownName(job.source), shownName(job.target));
        // A run that deletes replaces nothing: only a JPEG holding this very picture lets the bitmap go.
        struct stat there {};
        if (options.deleteSources && ::lstat(systemPath(job.target).c_str(), &there) == 0) {
            text += QStringLiteral(" (the JPEG is there already: it stays, and the bitmap too unless it holds this picture)\n");
            continue;
        }
        text += QLatin1Char('\n');
        if (options.deleteSources && isBitmapName(job.source)) text += QStringLiteral("delete %1\n").arg(shownName(job.source));
    }
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

// The JPEG's size, for the log; 0 when there is none.
qint64 sizeOf(const QString& path) {
    struct stat st {};
    return ::stat(systemPath(path).c_str(), &st) == 0 ? static_cast<qint64>(st.st_size) : 0;
}

}  // namespace

void convertJobs(const std::vector<ConversionJob>& jobs, const ConvertOptions& options, Progress& progress,
                 RunCounts& counts, const std::atomic<int>& stop, RunLog* log, std::shared_ptr<RunMemory> memory) {
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
        if (!options.outputDir.isEmpty()) folders.insert(folderPart(job.target));
    }
    // A folder that cannot be made fails its files when they are saved.
    for (const QString& folder : std::as_const(folders)) files::makeFolders(fileNameBytes(folder).toStdString());

    QThreadPool::globalInstance()->setMaxThreadCount(options.jobs);
    // Twice as many started as running: a thread that finishes early finds its next file queued.
    // A run that deletes never replaces a picture it did not make.
    // A stop asked for (Ctrl-C) reaches the run at once: what was begun is finished, nothing new begins.
    // With --no-clobber, an existing JPEG also stays when it appears after the walk.
    RunSettings settings{options.jpeg, options.deleteSources, !options.deleteSources && !options.noClobber,
                         2 * options.jobs, 0, &stop};
    settings.preserve = options.preserve;
    settings.keepExisting = options.noClobber;
    settings.memory = std::move(memory);
    ConversionRun run(entries, settings);
    for (const ConversionJob& job : jobs) {
        if (!job.skip.isEmpty()) {
            logLine(job, "skipped", job.skip, 0);
            continue;
        }
        const EntryReport report = run.next().result();
        if (!report.started) break;
        ++(report.converted ? counts.converted : report.skipped ? counts.skipped : counts.failed);
        const QString deletion = report.deletion.isEmpty() ? QString()
                                 : QStringLiteral("pellicor: cannot delete file ") + shownName(job.source) +
                                       (report.deletionReason.isEmpty() ? QString() : QStringLiteral(": ") + report.deletionReason);
        for (const QString& line : {report.converted || report.skipped ? QString() : failureLine(report, job), deletion}) {
            if (line.isEmpty()) continue;
            progress.failure(line);
            counts.unfinished = true;
        }
        // "kept": converted, but its bitmap stayed although --delete asked.
        logLine(job, report.skipped ? "skipped" : !report.converted ? "failed" : report.deletion.isEmpty() ? "converted" : "kept",
                report.skipped ? QStringLiteral("JPEG exists") : report.converted ? report.deletionReason : report.reason,
                report.seconds);
        progress.fileDone(job.bytes);
    }
}
