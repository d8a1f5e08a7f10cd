// The convert command: every queued file, from the top of the list down.
#include "file_list_box.h"
#include "form_runtime.h"
#include "frmMain.h"
#include "modPellicor.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <sys/stat.h>
#include <vector>

namespace {

// The JPEGs a run has written, so that a later entry of the same run never
// overwrites one of them (a.bmp and a.BMP, or a.bmp and a.dib, share a.jpg).
class WrittenTargets {
public:
    bool contains(const QString& target) const {
        if (names_.contains(target)) return true;
        struct stat st {};
        if (::stat(QFile::encodeName(target).constData(), &st) != 0) return false;
        for (const auto& [dev, ino] : ids_)
            if (dev == st.st_dev && ino == st.st_ino) return true;
        return false;
    }
    void add(const QString& target) {
        names_.append(target);
        struct stat st {};
        if (::stat(QFile::encodeName(target).constData(), &st) == 0) ids_.emplace_back(st.st_dev, st.st_ino);
    }

private:
    QStringList names_;
    std::vector<std::pair<dev_t, ino_t>> ids_;
};

constexpr int kRepaintEveryMs = 40;

}  // namespace

void frmMain::cmdConvert_Click() {
    // A quality that is no number stops the run before anything happens.
    if (!toLong(txtQuality->text())) {
        ReportConversionError(QStringLiteral("Quality is not a number: ") + txtQuality->text());
        return;
    }
    setMousePointer(vbHourglass);
    lblStatus->setText(QString::number(List1->count()) + QStringLiteral(" Converted successfully"));
    repaint();

    int converted = 0;
    int failed = 0;
    WrittenTargets written;
    QElapsedTimer sincePaint;
    sincePaint.start();
    while (List1->count() > 0) {
        const QString entry = List1->item(0)->text();
        sBaseName = baseNameOf(entry);
        const QString target = sBaseName + QStringLiteral(".jpg");
        bool ok = false;
        if (written.contains(target)) {
            ReportConversionError(QStringLiteral("Cannot save file ") + target);
        } else {
            ok = ConvertFile(*this, entry, target);
            if (ok) written.add(target);
        }
        ++(ok ? converted : failed);
        delete List1->takeItem(0);
        // Let the user watch the list empty; paint only, so no input gets in.
        if (sincePaint.elapsed() >= kRepaintEveryMs) {
            repaint();
            sincePaint.restart();
        }
    }
    File1->Refresh();
    setMousePointer(vbDefault);
    if (failed > 0)
        lblStatus->setText(QStringLiteral("%1 Converted successfully, %2 Failed").arg(converted).arg(failed));
}
