#include "dir_list_box.h"

#include "drives.h"
#include "form_runtime.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>

namespace {

constexpr int kFolderRole = Qt::UserRole;

}  // namespace

DirListBox::DirListBox(QWidget* parent) : QListWidget(parent) {}

void DirListBox::open(const QListWidgetItem* entry) {
    if (entry == nullptr) return;
    try {
        setPath(entry->data(kFolderRole).toString());
    } catch (const RuntimeError&) {
        // A folder that vanished or cannot be read: stay where we are.
    }
}

void DirListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    open(itemAt(event->position().toPoint()));
}

void DirListBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        open(currentItem());
        return;
    }
    QListWidget::keyPressEvent(event);
}

void DirListBox::setPath(const QString& folder) {
    // No folder is named by nothing (a relative name would depend on the
    // process's working folder, which the program does not use).
    if (folder.isEmpty()) throw RuntimeError{errPathNotFound, QStringLiteral("Path not found")};
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    const QFileInfo info(clean);
    if (!info.isDir()) throw RuntimeError{errPathNotFound, QStringLiteral("Path not found")};
    if (!info.isReadable()) throw RuntimeError{75, QStringLiteral("Path/File access error")};
    if (clean == path_) return;
    path_ = clean;
    fill();
    emit Change();
}

void DirListBox::setDrive(const QString& driveText) {
    for (const DriveInfo& drive : drives()) {
        if (drive.text() != driveText && drive.root != driveText) continue;
        if (!driveAvailable(drive.root)) throw RuntimeError{errDeviceUnavailable, QStringLiteral("Device unavailable")};
        const QString folder = currentFolderOf(drive);
        setPath(QFileInfo(folder).isDir() ? folder : drive.root);
        return;
    }
    throw RuntimeError{errDeviceUnavailable, QStringLiteral("Device unavailable")};
}

void DirListBox::fill() {
    setUpdatesEnabled(false);
    clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);

    // The chain from the root of the drive that holds the folder.
    DriveInfo drive;
    const QString root = driveOf(path_, &drive) ? drive.root : QStringLiteral("/");
    QStringList chain{path_};
    for (QString up = path_; up != root && up != QLatin1String("/");) {
        up = QFileInfo(up).path();
        chain.prepend(up);
    }
    int depth = 0;
    for (const QString& folder : chain) {
        const QString name = depth == 0 ? folder : QFileInfo(folder).fileName();
        auto* entry = new QListWidgetItem(open, QString(depth * 2, QLatin1Char(' ')) + name, this);
        entry->setData(kFolderRole, folder);
        ++depth;
    }
    const QDir dir(path_);
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase)) {
        auto* entry = new QListWidgetItem(closed, QString(depth * 2, QLatin1Char(' ')) + name, this);
        entry->setData(kFolderRole, dir.filePath(name));
    }
    setCurrentRow(static_cast<int>(chain.size()) - 1);
    setUpdatesEnabled(true);
}
