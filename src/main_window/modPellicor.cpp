#include "modPellicor.h"

#include "conversion_run.h"
#include "form_runtime.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <optional>

QString sFilePath;

namespace {

template <typename T>
QFuture<T> waitPainting(const QFuture<T>& future) {
    QFutureWatcher<T> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished()) loop.exec(kWhileRunning);
    return future;
}

}  // namespace

QString qualityRefusal(const QString& text) {
    constexpr qsizetype kShown = 40;
    const QString shown = text.size() > kShown ? text.left(kShown) + QChar(0x2026) : text;
    return QStringLiteral("Quality is not a number: ") + shown;
}

int ReportConversionError(const QString& prompt, int style) {
    const int answer = MsgBox(prompt, style | vbExclamation, QString::fromLatin1(kErrorTitle));
    setMousePointer(vbDefault);
    return answer;
}

// Then waited for plainly: the hand-over the thread checker can see.
void setRunAside(ConversionRun& run) { waitPainting(run.setAside()).waitForFinished(); }

FileTurn ConvertFile(const QString& source, const QString& target, qint32 quality, bool deleteSource, ConversionRun* run,
                     const std::function<void()>& beforeBox) {
    std::optional<ConversionRun> alone;
    if (run == nullptr) run = &alone.emplace(QList<RunEntry>{{source, target}}, RunSettings{quality, deleteSource});
    const EntryReport report = waitPainting(run->next()).result();
    FileTurn turn{report.started, report.converted, false};
    if (report.failure.isEmpty() && report.deletion.isEmpty()) return turn;
    // A stick pulled out or full while a box waits: nothing of the run keeps it busy.
    setRunAside(*run);
    if (beforeBox) beforeBox();
    const bool more = !alone && run->size() > report.index + 1;
    if (report.targetLost && more)
        turn.stop = ReportConversionError(report.failure + QStringLiteral("\n\nStop converting?"), vbYesNo) == vbYes;
    else if (!report.failure.isEmpty())
        ReportConversionError(report.failure);
    if (!report.deletion.isEmpty()) ReportConversionError(report.deletion);
    return turn;
}
