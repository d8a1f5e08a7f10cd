#include "modPellicor.h"

#include "conversion_run.h"
#include "form_runtime.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <optional>

QString sFilePath;

namespace {

EntryReport waitPainting(const QFuture<EntryReport>& turn) {
    QFutureWatcher<EntryReport> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(turn);
    if (!turn.isFinished()) loop.exec(kWhileRunning);
    return turn.result();
}

}  // namespace

QString qualityRefusal(const QString& text) {
    constexpr qsizetype kShown = 40;
    const QString shown = text.size() > kShown ? text.left(kShown) + QChar(0x2026) : text;
    return QStringLiteral("Quality is not a number: ") + shown;
}

void ReportConversionError(const QString& prompt) {
    MsgBox(prompt, vbExclamation, QString::fromLatin1(kErrorTitle));
    setMousePointer(vbDefault);
}

bool ConvertFile(const QString& source, const QString& target, qint32 quality, bool deleteSource, ConversionRun* run) {
    std::optional<ConversionRun> alone;
    if (run == nullptr) run = &alone.emplace(QList<RunEntry>{{source, target}}, RunSettings{quality, deleteSource});
    const EntryReport report = waitPainting(run->next());
    if (!report.failure.isEmpty()) ReportConversionError(report.failure);
    if (!report.deletion.isEmpty()) ReportConversionError(report.deletion);
    return report.converted;
}
