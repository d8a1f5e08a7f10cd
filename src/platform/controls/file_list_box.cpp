#include "file_list_box.h"

#include <QDir>
#include <QMouseEvent>

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void FileListBox::setPath(const QString& path) {
    path_ = path;
    Refresh();
}

void FileListBox::setPattern(const QString& pattern) {
    pattern_ = pattern;
    Refresh();
}

void FileListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    // The entry under the pointer is the current one, as after its first click.
    if (QListWidgetItem* under = itemAt(event->position().toPoint())) setCurrentItem(under);
    emit DblClick();
}

QString FileListBox::List(int index) const {
    const QListWidgetItem* entry = item(index);
    return entry ? entry->text() : QString();
}

void FileListBox::Refresh() {
    QStringList names;
    if (!path_.isEmpty()) {
        // Name filters without QDir::CaseSensitive match regardless of case.
        names = QDir(path_).entryList({pattern_}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    }
    setUpdatesEnabled(false);
    clear();
    addItems(names);
    setUpdatesEnabled(true);
}
