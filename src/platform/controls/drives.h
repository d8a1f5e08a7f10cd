// Drives: the mounted, user-facing file systems, and the folder each one
// remembers as its current folder.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QTimer;

struct DriveInfo {
    QString root;   // "/" or a mount point, without a trailing "/" (but "/" itself)
    QString label;  // empty when the file system has none
    bool answering = true;  // false: its file system did not answer in time (a share whose server went away)
    QString text() const { return label.isEmpty() ? root : root + QStringLiteral(" [") + label + QLatin1Char(']'); }
};

// The drives as the system reports them (pseudo file systems left out). The
// mount table is read at once; each file system is asked for its size and
// label on a thread of its own, and one that does not answer within a moment
// is listed as not answering rather than holding up the caller.
QList<DriveInfo> systemDrives();

// Where the drives come from, and whether a drive's root can be read (tests
// replace both through test_hooks.h). A drive that does not answer within a
// second cannot be read.
QList<DriveInfo> drives();
bool driveAvailable(const QString& root);

// The drive that holds a path: the longest root that is a prefix of it.
// Returns false when no drive holds it.
bool driveOf(const QString& path, DriveInfo* drive);
// False when the drive holding a path is listed as not answering: touching
// the path would hang.
bool driveAnswers(const QString& path);

// The current folder of each drive: its root until a folder on it is made
// current (the window starts its own drive on the folder it starts in).
QString currentFolderOf(const DriveInfo& drive);
void rememberCurrentFolder(const QString& folder);

// Whether file names on the file system holding `path` ignore letter case.
// Looks each time: another medium may be mounted in the same place.
bool fileNamesIgnoreCase(const QString& path);

// Tells, on the window's thread, that the drives may have changed: a file
// system was mounted or unmounted, or one answered late or stopped answering.
class DriveWatch : public QObject {
    Q_OBJECT

public:
    static DriveWatch& instance();
    // Looks at the drives asked until all have answered.
    void followAnswers();

signals:
    void changed();

private:
    DriveWatch();
    QTimer* answers_;
    qint64 seen_ = -1;  // answers given and questions given up on, as last told
};
