#include "file_list_box.h"

#include "one_line_names.h"

#include <QCollator>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <vector>

void sortNames(QStringList& names) {
    // Qt's collator for the C locale only compares code points; English
    // collation is the common order of all languages with nothing added.
    const QLocale system = QLocale::system();
    QCollator collator(system.language() == QLocale::C ? QLocale(QLocale::English) : system);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // A key per name, made once: a folder may hold tens of thousands.
    struct Keyed {
        QCollatorSortKey key;
        QString name;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(static_cast<std::size_t>(names.size()));
    for (QString& name : names) keyed.push_back({collator.sortKey(name), std::move(name)});
    // Names equal but for case keep one order from one listing to the next.
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        const int order = a.key.compare(b.key);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i) names[static_cast<qsizetype>(i)] = std::move(keyed[i].name);
}

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
        names = QDir(path_).entryList({pattern_}, QDir::Files, QDir::Unsorted);
        sortNames(names);
    }
    // A folder that could not be read (removed meanwhile) shows no names, not the last folder's.
    setUpdatesEnabled(false);
    clear();
    addItems(names);
    setUpdatesEnabled(true);
}
