#include "dir_list_box.h"

#include "drives.h"
#include "file_list_box.h"
#include "form_runtime.h"
#include "one_line_names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFolderRole = Qt::UserRole;
constexpr int kDepthRole = Qt::UserRole + 1;

// Folders indented by their depth in the drawing, not in their names, so
// that typing a folder's first letters finds it.
class IndentedFolders : public OneLineNames {
public:
    using OneLineNames::OneLineNames;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem indented = option;
        indented.rect.setLeft(option.rect.left() + indent(option, index));
        OneLineNames::paint(painter, indented, index);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(indent(option, index), 0);
    }

private:
    static int indent(const QStyleOptionViewItem& option, const QModelIndex& index) {
        return index.data(kDepthRole).toInt() * 2 * option.fontMetrics.horizontalAdvance(QLatin1Char(' '));
    }
};

}  // namespace

DirListBox::DirListBox(QWidget* parent) : QListWidget(parent) { setItemDelegate(new IndentedFolders(this)); }

QString DirListBox::whyNotOpen(const QString& folder) {
    const QByteArray name = QFile::encodeName(folder);
    struct stat status {};
    int error = 0;
    if (::stat(name.constData(), &status) != 0) error = errno;
    else if (!S_ISDIR(status.st_mode)) error = ENOTDIR;
    else if (::access(name.constData(), R_OK | X_OK) != 0) error = errno;
    return error == 0 ? QString() : QString::fromLocal8Bit(std::strerror(error));
}

void DirListBox::open(const QListWidgetItem* entry) {
    if (entry == nullptr) return;
    const QString folder = entry->data(kFolderRole).toString();
    try {
        setPath(folder);
    } catch (const RuntimeError& error) {
        // Stay where we are, and show it: the row clicked must not stay
        // selected over another folder's files. A folder removed meanwhile
        // leaves the list.
        const QString reason = whyNotOpen(folder);
        // The folder shown may be gone too: then the nearest one above it that is there.
        QString shown = path_;
        while (!QFileInfo(shown).isDir() && shown != QDir::rootPath()) shown = QFileInfo(shown).path();
        bool moved = false;
        if (shown != path_) {
            try {
                setPath(shown);
                moved = true;
            } catch (const RuntimeError&) {
            }
        }
        if (!moved) listFolders();
        emit Refused(folder, reason.isEmpty() ? error.description : reason);
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
    listFolders();
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

void DirListBox::listFolders() {
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
        auto* entry = new QListWidgetItem(open, name, this);
        entry->setData(kFolderRole, folder);
        entry->setData(kDepthRole, depth);
        ++depth;
    }
    const QDir dir(path_);
    QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    sortNames(names);
    for (const QString& name : names) {
        auto* entry = new QListWidgetItem(closed, name, this);
        entry->setData(kFolderRole, dir.filePath(name));
        entry->setData(kDepthRole, depth);
    }
    setCurrentRow(static_cast<int>(chain.size()) - 1);
    setUpdatesEnabled(true);
}
