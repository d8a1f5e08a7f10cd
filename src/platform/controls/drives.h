// Drives: the mounted, user-facing file systems, and the folder each one
// remembers as its current folder.
#pragma once

#include <QList>
#include <QString>

struct DriveInfo {
    QString root;   // "/" or a mount point, without a trailing "/" (but "/" itself)
    QString label;  // empty when the file system has none
    QString text() const { return label.isEmpty() ? root : root + QStringLiteral(" [") + label + QLatin1Char(']'); }
};

// The drives as the system reports them (pseudo file systems left out).
QList<DriveInfo> systemDrives();

// Where the drives come from, and whether a drive's root can be read (tests
// replace both through test_hooks.h).
QList<DriveInfo> drives();
bool driveAvailable(const QString& root);

// The drive that holds a path: the longest root that is a prefix of it.
// Returns false when no drive holds it.
bool driveOf(const QString& path, DriveInfo* drive);

// The current folder of each drive: its root until a folder on it is made
// current (the window starts its own drive on the folder it starts in).
QString currentFolderOf(const DriveInfo& drive);
void rememberCurrentFolder(const QString& folder);

// Whether file names on the file system holding `path` ignore letter case.
// Looks each time: another medium may be mounted in the same place.
bool fileNamesIgnoreCase(const QString& path);
