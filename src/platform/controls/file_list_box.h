// The file list: names (without folder) of the regular, visible files of one
// folder that match a pattern, in the file manager's order.
#pragma once

#include <QListWidget>

// Sorts names as a file manager does: by the user's language, without regard
// to case, numbers by value ("Scan 2" before "Scan 10"). Without a language
// (the C locale) the common order of all languages, which still puts "Ärger"
// among the A names.
void sortNames(QStringList& names);

class FileListBox : public QListWidget {
    Q_OBJECT

public:
    explicit FileListBox(QWidget* parent = nullptr);

    QString Path() const { return path_; }
    // Re-reads the folder; one that cannot be read lists nothing.
    void setPath(const QString& path);
    void setPattern(const QString& pattern);

    int ListCount() const { return count(); }
    QString List(int index) const;
    int ListIndex() const { return currentRow(); }  // -1 when no entry is current
    void setListIndex(int index) { setCurrentRow(index); }
    void Refresh();

signals:
    void DblClick();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // Enter or Space on the current file does what a double-click on it does.
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString path_;
    QString pattern_ = QStringLiteral("*.*");
};
