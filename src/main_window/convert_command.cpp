// The convert command: every queued file, from the top of the list down.
//
// The run converts the next entries on worker threads while the window
// reports each one in list order.
#include "conversion_run.h"
#include "file_list_box.h"
#include "form_runtime.h"
#include "frmMain.h"
#include "imaging.h"
#include "list_box.h"
#include "modPellicor.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int kPaintEveryMs = 40;

// While a run works, input meant for the window is thrown away rather than
// carried out when it ends (a click on Add All would refill the list with
// files whose bitmaps are gone). Message boxes of the run take input as usual;
// Escape, Exit and the close box ask whether to stop.
class InputDropped : public QObject {
public:
    explicit InputDropped(frmMain* form) : form_(form) { qApp->installEventFilter(this); }
    ~InputDropped() override {
        // What the window system holds from the run arrives now, and goes.
        QGuiApplication::sync();
        QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
        qApp->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (QApplication::activeModalWidget() != nullptr) return false;
        switch (event->type()) {
        case QEvent::KeyPress: {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape && !key->isAutoRepeat())
                QTimer::singleShot(0, form_, &frmMain::askToStop);
            return true;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
            // Exit asks to stop, as the close box does; the window hands it its clicks.
            return watched->isWidgetType() && watched != static_cast<QObject*>(form_->cmdExit);
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::Wheel:
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
            return true;
        default:
            return false;
        }
    }

private:
    frmMain* form_;
};

}  // namespace

void frmMain::askToStop() {
    if (run_ == nullptr || askingToStop_) return;
    askingToStop_ = true;
    setRunAside(*run_);  // nothing of the run keeps a stick busy while the question waits
    const int answer = MsgBox(QStringLiteral("Stop converting after this file?"), vbYesNo | vbQuestion | vbDefaultButton2,
                              QStringLiteral("Pellicor"));
    askingToStop_ = false;
    if (answer == vbYes && run_ != nullptr) run_->stop();
}

void frmMain::cmdConvert_Click() {
    // A quality that is no number stops the run before anything happens.
    const std::optional<qint32> quality = toLong(txtQuality->text());
    if (!quality) {
        ReportConversionError(qualityRefusal(txtQuality->text()));
        return;
    }
    if (converting_) return;
    if (freshKeys_ == nullptr && windowHandle() != nullptr) freshKeys_ = new FreshKeys(windowHandle());
    // Keys held into the run and out of it are not the window's after it.
    if (freshKeys_ != nullptr) freshKeys_->forget();
    const InputDropped noInput(this);
    converting_ = true;
    Timer1_Timer();
    setMousePointer(vbHourglass);
    setStatus(QString::number(List1->count()) + QStringLiteral(" Converted successfully"));

    const bool deleteSources = chkKill->checkState() != Qt::Unchecked;
    QList<RunEntry> entries;
    for (int i = 0; i < List1->count(); ++i) {
        const QString entry = List1->item(i)->text();
        entries.append({entry, jpegNameOf(entry)});
    }
    ConversionRun run(entries, RunSettings{*quality, deleteSources});
    run_ = &run;

    // The user watches the remaining entries move up from the top, and the bar fill.
    List1->scrollToTop();
    const int textEnd = lblStatus->x() + lblStatus->fontMetrics().horizontalAdvance(lblStatus->text()) + 16;
    prgRun->setGeometry(textEnd, 3, std::min(200, PicStatus->width() - textEnd - 4), PicStatus->height() - 6);
    prgRun->setRange(0, static_cast<int>(entries.size()));
    prgRun->setValue(0);
    prgRun->setVisible(!entries.isEmpty());
    QCoreApplication::processEvents(kWhileRunning);

    // The entries done go from the list together when it paints: one at a
    // time, a long list spends every paint laying itself out again.
    int done = 0;
    const auto removeDone = [this, &done] {
        if (done > 0) List1->model()->removeRows(0, done);
        done = 0;
    };
    const bool uniform = List1->uniformItemSizes();
    List1->setUniformItemSizes(true);

    int converted = 0;
    int failed = 0;
    bool stopped = false;
    QElapsedTimer sincePaint;
    sincePaint.start();
    for (int k = 0; k < run.size(); ++k) {
        const FileTurn turn = ConvertFile(entries[k].source, entries[k].target, *quality, deleteSources, &run, removeDone);
        if (!turn.started) {
            stopped = true;
            break;
        }
        ++(turn.converted ? converted : failed);
        if (turn.stop) run.stop();
        ++done;
        prgRun->setValue(k + 1);
        if (sincePaint.elapsed() >= kPaintEveryMs) {
            removeDone();
            QCoreApplication::processEvents(kWhileRunning);
            sincePaint.restart();
        }
    }
    removeDone();
    List1->setUniformItemSizes(uniform);
    run_ = nullptr;
    prgRun->hide();
    converting_ = false;
    Timer1_Timer();
    File1->Refresh();
    setMousePointer(vbDefault);
    const int left = List1->count();
    if (stopped && failed > 0)
        setStatus(QStringLiteral("%1 Converted successfully, %2 Failed, stopped; %3 left").arg(converted).arg(failed).arg(left));
    else if (stopped)
        setStatus(QStringLiteral("%1 Converted successfully, stopped; %2 left in the list").arg(converted).arg(left));
    else if (failed > 0)
        setStatus(QStringLiteral("%1 Converted successfully, %2 Failed").arg(converted).arg(failed));
    emit runEnded();
    // Once the run's work is gone, the buffers kept for its next pictures go too.
    QTimer::singleShot(0, this, [] { imaging_release_spare_memory(); });
}
