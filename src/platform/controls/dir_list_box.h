// The folder list: the chain of folders from the root down to the shown
// folder, then the shown folder's subfolders.
#pragma once

#include <QListWidget>

class DirListBox : public QListWidget {
    Q_OBJECT

public:
    explicit DirListBox(QWidget* parent = nullptr);

    // The shown folder: a root ends in "/", other folders do not.
    QString Path() const { return path_; }
    void setPath(const QString& path);

signals:
    void Change();

private:
    void fill();

    QString path_;
};
