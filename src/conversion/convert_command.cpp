// The convert command: every queued file, from the top of the list down.
//
// While the window's thread reports, commits and deletes in list order, the
// next entries are already being converted on worker threads.
#include "file_list_box.h"
#include "form_runtime.h"
#include "frmMain.h"
#include "imaging.h"
#include "list_box.h"
#include "modPellicor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>

namespace {

// What a run lets through: the window repaints (a window dragged across it
// leaves no trace), but no click or key of the user's is carried out, and
// files handed over by another process wait until the run is over.
constexpr QEventLoop::ProcessEventsFlags kWhileRunning =
    QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers;
constexpr int kPaintEveryMs = 40;

// While a run works, input meant for the window is thrown away rather than
// carried out when it ends (a click on Add All would refill the list with
// files whose bitmaps are gone). Message boxes of the run take input as usual.
class InputDropped : public QObject {
public:
    InputDropped() { qApp->installEventFilter(this); }
    ~InputDropped() override {
        // What queued up during the run arrives now, and goes.
        QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
        qApp->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (QApplication::activeModalWidget() != nullptr) return false;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::Close:
            return true;
        default:
            return false;
        }
    }
};

// Waits for work ahead while the window keeps painting.
void waitPainting(const ImageWork& work) {
    QFutureWatcher<ImageResult> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(work);
    loop.exec(kWhileRunning);
}

}  // namespace

void frmMain::cmdConvert_Click() {
    // A quality that is no number stops the run before anything happens.
    const std::optional<qint32> quality = toLong(txtQuality->text());
    if (!quality) {
        ReportConversionError(qualityRefusal(txtQuality->text()));
        return;
    }
    const InputDropped noInput;
    converting_ = true;
    setMousePointer(vbHourglass);
    setStatus(QString::number(List1->count()) + QStringLiteral(" Converted successfully"));

    QStringList entries, targets;
    for (int i = 0; i < List1->count(); ++i) {
        entries << List1->item(i)->text();
        targets << baseNameOf(entries.back()) + QStringLiteral(".jpg");
    }
    WorkAhead ahead(entries, targets, *quality);
    WrittenTargets written;
    ahead.startAhead(0, written);

    // The user watches the remaining entries move up from the top, and the bar fill.
    List1->scrollToTop();
    const int textEnd = lblStatus->x() + lblStatus->fontMetrics().horizontalAdvance(lblStatus->text()) + 16;
    prgRun->setGeometry(textEnd, 3, std::min(200, PicStatus->width() - textEnd - 4), PicStatus->height() - 6);
    prgRun->setRange(0, static_cast<int>(entries.size()));
    prgRun->setValue(0);
    prgRun->setVisible(!entries.isEmpty());
    QCoreApplication::processEvents(kWhileRunning);

    int converted = 0;
    int failed = 0;
    QElapsedTimer sincePaint;
    sincePaint.start();
    for (int k = 0; List1->count() > 0; ++k) {
        const QString entry = List1->item(0)->text();
        sBaseName = baseNameOf(entry);
        const QString target = sBaseName + QStringLiteral(".jpg");
        ImageWork work = k < entries.size() && entries[k] == entry ? ahead.take(k) : ImageWork{};
        // Even the entries converted in their turn are converted off this thread.
        if (!work.isValid()) work = startImageWork(entry, target, *quality);
        waitPainting(work);
        const bool ok = ConvertFile(*this, entry, target, work, &written);
        ++(ok ? converted : failed);
        delete List1->takeItem(0);
        prgRun->setValue(k + 1);
        ahead.startAhead(k + 1, written);
        if (sincePaint.elapsed() >= kPaintEveryMs) {
            QCoreApplication::processEvents(kWhileRunning);
            sincePaint.restart();
        }
    }
    prgRun->hide();
    converting_ = false;
    File1->Refresh();
    setMousePointer(vbDefault);
    if (failed > 0)
        setStatus(QStringLiteral("%1 Converted successfully, %2 Failed").arg(converted).arg(failed));
    emit runEnded();
    // Once the run's work is gone, the buffers kept for its next pictures go too.
    QTimer::singleShot(0, this, [] { imaging_release_spare_memory(); });
}
