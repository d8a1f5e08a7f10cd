// The drive list: one entry per mounted, user-facing file system, shown by
// its root path and " [label]" where it has one; a drive that does not answer
// is greyed and says so.
#pragma once

#include <QComboBox>

class DriveListBox : public QComboBox {
    Q_OBJECT

public:
    explicit DriveListBox(QWidget* parent = nullptr);

    // The selected drive's text (without the note of a drive that does not answer).
    QString Drive() const;
    // Selects the drive named by a drive text, or the drive that holds a
    // path; Change follows at once when the selection changes. A text no
    // drive matches is run-time error 68.
    void setDrive(const QString& text);

signals:
    void Change();

protected:
    // Media come and go: the list shows the drives as they are now. When the
    // shown drive has gone, Change follows instead, as for a drive that cannot be read.
    void showPopup() override;

private:
    // Re-reads the drives; false when the selected one is gone.
    bool listDrives();
    // The mount table changed, or a drive answered late: listed afresh, and
    // Change follows when the shown drive has gone.
    void drivesChanged();
    void change();
    bool filling_ = false;
    bool changing_ = false;  // inside Change: a change of the drives waits until it returns
    bool stale_ = false;
};
