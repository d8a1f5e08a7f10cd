#include "batch_run.h"

#include "conversion_run.h"

#include "file_names.h"
#include "shown_name.h"

#include <QSet>
#include <QThreadPool>
#include <cerrno>

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

}  // namespace

void convertJobs(const std::vector<ConversionJob>& jobs, const ConvertOptions& options, Progress& progress,
                 RunCounts& counts, const std::atomic<int>& stop) {
    QList<RunEntry> entries;
    QSet<QString> folders;
    for (const ConversionJob& job : jobs) {
        entries.append({job.source, job.target});
        if (!options.outputDir.isEmpty()) folders.insert(folderPart(job.target));
    }
    // A folder that cannot be made fails its files when they are saved.
    for (const QString& folder : std::as_const(folders)) files::makeFolders(fileNameBytes(folder).toStdString());

    QThreadPool::globalInstance()->setMaxThreadCount(options.jobs);
    // Twice as many started as running: a thread that finishes early finds its next file queued.
    // A run that deletes never replaces a picture it did not make.
    // A stop asked for (Ctrl-C) reaches the run at once: what was begun is finished, nothing new begins.
    ConversionRun run(entries,
                      RunSettings{options.jpeg, options.deleteSources, !options.deleteSources, 2 * options.jobs, 0, &stop});
    for (int k = 0; k < run.size(); ++k) {
        const EntryReport report = run.next().result();
        if (!report.started) break;
        ++(report.converted ? counts.converted : counts.failed);
        const ConversionJob& job = jobs[static_cast<std::size_t>(k)];
        const QString deletion = report.deletion.isEmpty() ? QString()
                                 : QStringLiteral("pellicor: cannot delete file ") + shownName(job.source) +
                                       (report.deletionReason.isEmpty() ? QString() : QStringLiteral(": ") + report.deletionReason);
        for (const QString& line : {report.converted ? QString() : failureLine(report, job), deletion}) {
            if (line.isEmpty()) continue;
            progress.failure(line);
            counts.unfinished = true;
        }
        progress.fileDone(job.bytes);
    }
}
