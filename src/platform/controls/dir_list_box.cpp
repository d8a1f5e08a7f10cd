#include "dir_list_box.h"

#include <QDir>
#include <QStyle>

DirListBox::DirListBox(QWidget* parent) : QListWidget(parent) {
    connect(this, &QListWidget::itemActivated, this, [this](QListWidgetItem* entry) {
        setPath(entry->data(Qt::UserRole).toString());
    });
}

void DirListBox::setPath(const QString& path) {
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    if (clean == path_) return;
    path_ = clean;
    fill();
    emit Change();
}

void DirListBox::fill() {
    clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QStringList chain;
    for (QDir dir(path_);; ) {
        chain.prepend(dir.absolutePath());
        if (dir.isRoot() || !dir.cdUp()) break;
    }
    int depth = 0;
    for (const QString& folder : chain) {
        const QString name = depth == 0 ? folder : QDir(folder).dirName();
        auto* entry = new QListWidgetItem(open, QString(depth * 2, QLatin1Char(' ')) + name, this);
        entry->setData(Qt::UserRole, folder);
        ++depth;
    }
    const QStringList subfolders =
        QDir(path_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : subfolders) {
        auto* entry = new QListWidgetItem(closed, QString(depth * 2, QLatin1Char(' ')) + name, this);
        entry->setData(Qt::UserRole, QDir(path_).filePath(name));
    }
    setCurrentRow(static_cast<int>(chain.size()) - 1);
}
