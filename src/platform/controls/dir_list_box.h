// The folder list: the chain of folders from the drive's root down to the
// shown folder (open folders, indented), then the shown folder's subfolders
// (closed folders). Double-click or Enter opens a folder.
#pragma once

#include <QListWidget>

class DirListBox : public QListWidget {
    Q_OBJECT

public:
    explicit DirListBox(QWidget* parent = nullptr);

    // The shown folder: a root ends in "/", other folders do not.
    QString Path() const { return path_; }
    // Shows a folder; Change follows at once when the shown folder changes.
    // A folder that cannot be read is a RuntimeError.
    void setPath(const QString& folder);
    // Shows the current folder of the drive named by a drive text; a drive
    // that cannot be read is run-time error 68.
    void setDrive(const QString& driveText);
    // Re-reads the shown folder's subfolders.
    void Refresh() { listFolders(); }
    // The system's reason why a folder cannot be listed and entered (removed,
    // no permission, ...); empty when it can.
    static QString whyNotOpen(const QString& folder);

signals:
    void Change();
    // A folder the user chose could not be shown; the list shows the folder
    // it showed before, read again.
    void Refused(const QString& folder, const QString& reason);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void listFolders();
    void open(const QListWidgetItem* entry);

    QString path_;
};
