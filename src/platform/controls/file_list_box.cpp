#include "file_list_box.h"

#include "one_line_names.h"

#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new OneLineNames(this));
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
    // Only a double-click on an entry acts: below the entries the current one
    // is still the last one clicked, and it must not be taken by surprise.
    QListWidgetItem* under = itemAt(event->position().toPoint());
    if (under == nullptr) return;
    setCurrentItem(under);  // as after the double-click's first click
    emit DblClick();
}

void FileListBox::paintEvent(QPaintEvent* event) {
    QListWidget::paintEvent(event);
    paintFocusWhenEmpty(this);
}

void FileListBox::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (currentItem() != nullptr) emit DblClick();
        return;
    }
    QListWidget::keyPressEvent(event);
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
