// The file list: names (without folder) of the regular, visible files of one
// folder that match a pattern, sorted without regard to case.
#pragma once

#include <QListWidget>

class FileListBox : public QListWidget {
    Q_OBJECT

public:
    explicit FileListBox(QWidget* parent = nullptr);

    QString Path() const { return path_; }
    void setPath(const QString& path);  // re-reads the folder
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
