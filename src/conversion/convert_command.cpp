// The convert command: every queued file, from the top of the list down.
//
// While the window's thread reports and deletes in list order, the next
// entries are already being converted on worker threads: one per processor,
// and one more so that no processor idles while the window's thread reports.
#include "file_list_box.h"
#include "form_runtime.h"
#include "frmMain.h"
#include "modPellicor.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include "list_box.h"
#include <QThread>
#include <map>
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

// Starts the imaging work of upcoming entries, but never for one whose files
// an unfinished earlier entry reads, writes or deletes: that one waits for
// its turn, so every file sees the same events as in a run one by one.
class ConversionsAhead {
public:
    ConversionsAhead(const QStringList& entries, qint32 quality)
        : entries_(entries), quality_(quality), width_(std::max(1, QThread::idealThreadCount()) + 1) {
        for (const QString& entry : entries) {
            targets_ << baseNameOf(entry) + QStringLiteral(".jpg");
            folded_.push_back({entry.toCaseFolded(), targets_.back().toCaseFolded()});
        }
    }

    // Entries before `current` are finished.
    void fill(int current, const WrittenTargets& written) {
        next_ = std::max(next_, current);
        while (next_ < entries_.size() && next_ < current + width_) {
            const int j = next_;
            if (written.contains(targets_[j]) || sharesFiles(j, current)) break;
            work_[j] = startImageWork(entries_[j], targets_[j], quality_);
            ++next_;
        }
    }

    // The work started for entry k, or none when k must be converted in place.
    ImageWork take(int k) {
        next_ = std::max(next_, k + 1);
        const auto found = work_.find(k);
        if (found == work_.end()) return {};
        ImageWork work = found->second;
        work_.erase(found);
        return work;
    }

private:
    bool sharesFiles(int j, int from) const {
        for (int i = from; i < j; ++i)
            for (const QString& mine : folded_[j])
                if (folded_[i].contains(mine)) return true;
        return false;
    }

    QStringList entries_;
    QStringList targets_;
    std::vector<QStringList> folded_;  // source and target, case-folded
    qint32 quality_;
    int width_;
    int next_ = 0;
    std::map<int, ImageWork> work_;
};

constexpr int kRepaintEveryMs = 40;

}  // namespace

void frmMain::cmdConvert_Click() {
    // A quality that is no number stops the run before anything happens.
    const std::optional<qint32> quality = toLong(txtQuality->text());
    if (!quality) {
        ReportConversionError(QStringLiteral("Quality is not a number: ") + txtQuality->text());
        return;
    }
    setMousePointer(vbHourglass);
    setStatus(QString::number(List1->count()) + QStringLiteral(" Converted successfully"));
    repaint();

    QStringList entries;
    for (int i = 0; i < List1->count(); ++i) entries << List1->item(i)->text();
    ConversionsAhead ahead(entries, *quality);
    WrittenTargets written;
    ahead.fill(0, written);

    int converted = 0;
    int failed = 0;
    QElapsedTimer sincePaint;
    sincePaint.start();
    for (int k = 0; List1->count() > 0; ++k) {
        const QString entry = List1->item(0)->text();
        sBaseName = baseNameOf(entry);
        const QString target = sBaseName + QStringLiteral(".jpg");
        ImageWork work = k < entries.size() && entries[k] == entry ? ahead.take(k) : ImageWork{};
        bool ok = false;
        if (written.contains(target)) {
            ReportConversionError(QStringLiteral("Cannot save file ") + target);
        } else {
            ok = ConvertFile(*this, entry, target, work);
            if (ok) written.add(target);
        }
        ++(ok ? converted : failed);
        delete List1->takeItem(0);
        ahead.fill(k + 1, written);
        // Let the user watch the list empty; paint only, so no input gets in.
        if (sincePaint.elapsed() >= kRepaintEveryMs) {
            List1->viewport()->repaint();
            sincePaint.restart();
        }
    }
    File1->Refresh();
    setMousePointer(vbDefault);
    if (failed > 0)
        setStatus(QStringLiteral("%1 Converted successfully, %2 Failed").arg(converted).arg(failed));
}
