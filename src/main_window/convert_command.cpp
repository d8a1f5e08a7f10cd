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
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>

namespace {

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

    const bool deleteSources = chkKill->checkState() != Qt::Unchecked;
    QList<RunEntry> entries;
    for (int i = 0; i < List1->count(); ++i) {
        const QString entry = List1->item(i)->text();
        entries.append({entry, jpegNameOf(entry)});
    }
    ConversionRun run(entries, RunSettings{*quality, deleteSources});

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
    for (int k = 0; k < run.size(); ++k) {
        const bool ok = ConvertFile(entries[k].source, entries[k].target, *quality, deleteSources, &run);
        ++(ok ? converted : failed);
        delete List1->takeItem(0);
        prgRun->setValue(k + 1);
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
