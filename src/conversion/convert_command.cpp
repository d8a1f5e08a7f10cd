// The convert command: every queued file, from the top of the list down.
//
// While the window's thread reports, commits and deletes in list order, the
// next entries are already being converted on worker threads.
#include "file_list_box.h"
#include "form_runtime.h"
#include "frmMain.h"
#include "list_box.h"
#include "modPellicor.h"

#include <QElapsedTimer>
#include <QLineEdit>

namespace {

constexpr int kRepaintEveryMs = 40;

}  // namespace

void frmMain::cmdConvert_Click() {
    // A quality that is no number stops the run before anything happens.
    const std::optional<qint32> quality = toLong(txtQuality->text());
    if (!quality) {
        ReportConversionError(qualityRefusal(txtQuality->text()));
        return;
    }
    setMousePointer(vbHourglass);
    setStatus(QString::number(List1->count()) + QStringLiteral(" Converted successfully"));
    repaint();

    QStringList entries, targets;
    for (int i = 0; i < List1->count(); ++i) {
        entries << List1->item(i)->text();
        targets << baseNameOf(entries.back()) + QStringLiteral(".jpg");
    }
    WorkAhead ahead(entries, targets, *quality);
    WrittenTargets written;
    ahead.fill(0, written);

    // The user watches the remaining entries move up from the top.
    List1->scrollToTop();
    int converted = 0;
    int failed = 0;
    QElapsedTimer sincePaint;
    sincePaint.start();
    for (int k = 0; List1->count() > 0; ++k) {
        const QString entry = List1->item(0)->text();
        sBaseName = baseNameOf(entry);
        const QString target = sBaseName + QStringLiteral(".jpg");
        ImageWork work = k < entries.size() && entries[k] == entry ? ahead.take(k) : ImageWork{};
        const bool ok = ConvertFile(*this, entry, target, work, &written);
        ++(ok ? converted : failed);
        delete List1->takeItem(0);
        ahead.fill(k + 1, written);
        // Paint only, so no input gets in.
        if (sincePaint.elapsed() >= kRepaintEveryMs) {
            List1->doItemsLayout();
            List1->viewport()->repaint();
            sincePaint.restart();
        }
    }
    File1->Refresh();
    setMousePointer(vbDefault);
    if (failed > 0)
        setStatus(QStringLiteral("%1 Converted successfully, %2 Failed").arg(converted).arg(failed));
}
