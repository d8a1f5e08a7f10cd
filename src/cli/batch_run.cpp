#include "batch_run.h"

#include "conversion_run.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QThreadPool>

namespace {

// One line each: the window's first line, then why (a file's name may hold line breaks of its own).
QString oneLine(QString text) {
    if (const qsizetype cut = text.lastIndexOf(QLatin1Char('\n')); cut >= 0) text.replace(cut, 1, QStringLiteral(": "));
    return text;
}

}  // namespace

void convertJobs(const std::vector<ConversionJob>& jobs, const ConvertOptions& options, Progress& progress,
                 RunCounts& counts, const std::atomic<int>& stop) {
    QList<RunEntry> entries;
    QSet<QString> folders;
    for (const ConversionJob& job : jobs) {
        entries.append({job.source, job.target});
        if (!options.outputDir.isEmpty()) folders.insert(QFileInfo(job.target).path());
    }
    // A folder that cannot be made fails its files when they are saved.
    for (const QString& folder : std::as_const(folders)) QDir().mkpath(folder);

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
        for (const QString& line : {report.failure, report.deletion}) {
            if (line.isEmpty()) continue;
            progress.failure(oneLine(line));
            counts.unfinished = true;
        }
        progress.fileDone(jobs[static_cast<std::size_t>(k)].bytes);
    }
}
