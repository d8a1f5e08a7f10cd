// The conversion list: adding files (one procedure for every way in),
// removing them, drops onto the list and the tooltip of its entries.
#include "drives.h"
#include "file_list_box.h"
#include "frmMain.h"
#include "list_box.h"
#include "image_conversion.h"
#include "modPellicor.h"
#include "twips.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHash>
#include <cmath>
#include <sys/stat.h>

namespace {

// Entries as they are queued: the file's name lower-cased only where file
// names ignore case, since elsewhere the lower-cased path would name another
// (or no) file. The folders above keep their case: the place a stick is
// mounted at lies on a file system that minds it. Each
// folder's file system is asked once per batch (Add All asks for thousands
// of files of one folder); the next batch asks again, as another medium may
// be mounted in the same place by then.
class EntryNames {
public:
    QString operator()(const QString& path) {
        const QString folder = QFileInfo(path).path();
        auto known = ignoresCase_.constFind(folder);
        if (known == ignoresCase_.constEnd()) known = ignoresCase_.insert(folder, fileNamesIgnoreCase(path));
        return *known ? path.left(path.lastIndexOf(QLatin1Char('/')) + 1) + QFileInfo(path).fileName().toLower() : path;
    }

private:
    QHash<QString, bool> ignoresCase_;
};

// A dropped folder stands for the bitmaps directly in it, as the file list
// would show them there.
QStringList expandFolders(const QStringList& paths) {
    QStringList files;
    for (const QString& path : paths) {
        struct stat status {};  // a stat alone: a drop may hold tens of thousands of files
        if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISDIR(status.st_mode)) {
            files << path;
            continue;
        }
        const QString folder = QDir::cleanPath(path);
        QStringList names = QDir(folder).entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Unsorted);
        sortNames(names);  // in the file list's order, as Add All queues them
        for (const QString& name : names) files << joinPath(folder, name);
    }
    return files;
}

}  // namespace

void frmMain::AddFileToList(ListBox& list, const QString& entry) {
    // The first entry goes in without a word.
    if (!entry.isEmpty() && list.ListCount() == 0) {
        list.AddItem(entry);
        return;
    }
    if (!entry.isEmpty() && !list.containsEntry(entry)) {
        list.AddItem(entry);
        setStatus(QString::number(List1->ListCount()) + QStringLiteral(" Added successfully"));
    } else {
        setStatus(QString::number(List1->ListCount()) + QStringLiteral(" Duplicate No Added"));
    }
}

void frmMain::cmdAddAll_Click() {
    const int count = File1->ListCount();
    EntryNames entryFor;
    List1->setUpdatesEnabled(false);
    for (int i = 0; i < count; ++i) AddFileToList(*List1, entryFor(joinPath(File1->Path(), File1->List(i))));
    List1->setUpdatesEnabled(true);
}

void frmMain::File1_DblClick() {
    const int index = File1->ListIndex();
    if (index < 0) return;  // no entry is current
    AddFileToList(*List1, EntryNames()(joinPath(File1->Path(), File1->List(index))));
}

void frmMain::cmdRemoveAll_Click() {
    const int bound = List1->ListCount();
    for (int index = 0; index <= bound - 1; ++index) {
        if (index == List1->ListCount()) break;
        if (List1->Selected(index)) {
            List1->RemoveItem(index);
            --index;  // the next entry has moved up into this place
            setStatus(QString::number(List1->ListCount()) + QStringLiteral(" Available After Removing"));
        }
    }
}

void frmMain::List1_DblClick() {
    const int index = List1->ListIndex();
    if (index < 0) return;
    List1->RemoveItem(index);
    setStatus(QString::number(List1->ListCount()) + QStringLiteral(" Available After Removing"));
}

void frmMain::List1_OLEDragDrop(const QMimeData* data) {
    const QStringList files = expandFolders(ListBox::droppedFiles(data));
    if (files.isEmpty()) return;  // no file list (plain text, only remote addresses), or folders without bitmaps
    setStatus(QString::number(files.size()) + QStringLiteral(" Added successfully"));
    EntryNames entryFor;
    List1->setUpdatesEnabled(false);
    for (const QString& file : files) AddFileToList(*List1, entryFor(file));
    List1->setUpdatesEnabled(true);
}

void frmMain::List1_MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, double, double y) { ShowListItemTip(List1, y); }

void frmMain::ShowListItemTip(QWidget* control, double y) {
    auto* list = qobject_cast<ListBox*>(control);
    if (list == nullptr) return;
    // One row is one line of the list's font high (the list draws them so).
    const double rowHeight = QFontMetrics(list->font()).height() * kTwipsPerPixel;
    const long long row = std::llrint(y) / std::llrint(rowHeight) + list->TopIndex();
    // Above the first row (possible while the mouse is captured) is no row at all.
    if (y >= 0 && row < list->ListCount())
        list->setToolTipText(list->List(static_cast<int>(row)));
    else
        list->setToolTipText(QString());
}
