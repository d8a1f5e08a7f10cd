#include "drives.h"
#include "test_hooks.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStorageInfo>

namespace {

DriveSource& source() {
    static DriveSource s;
    return s;
}
DriveCheck& check() {
    static DriveCheck c;
    return c;
}
CaseRule& caseRule() {
    static CaseRule r;
    return r;
}
QHash<QString, QString>& currentFolders() {
    static QHash<QString, QString> folders;
    return folders;
}

bool isUnder(const QString& path, const QString& root) {
    if (root == QLatin1String("/")) return path.startsWith(QLatin1Char('/'));
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

// Kernel and container plumbing that no user browses.
bool userFacing(const QStorageInfo& volume) {
    static const QSet<QByteArray> pseudo = {
        "proc",       "sysfs",     "cgroup",    "cgroup2",     "devpts",     "devtmpfs", "tmpfs",
        "ramfs",      "mqueue",    "debugfs",   "tracefs",     "securityfs", "pstore",   "bpf",
        "autofs",     "configfs",  "fusectl",   "hugetlbfs",   "binfmt_misc", "nsfs",    "efivarfs",
        "rpc_pipefs", "overlay",   "squashfs",  "nfsd",        "selinuxfs",  "fuse.gvfsd-fuse", "fuse.portal"};
    const QString root = volume.rootPath();
    if (root == QLatin1String("/")) return true;
    if (pseudo.contains(volume.fileSystemType()) || volume.bytesTotal() <= 0) return false;
    for (const char* hidden : {"/proc", "/sys", "/dev", "/run/user", "/snap", "/boot", "/var/lib"})
        if (isUnder(root, QLatin1String(hidden))) return false;
    return true;
}

}  // namespace

QList<DriveInfo> systemDrives() {
    QList<DriveInfo> list;
    QSet<QString> seen;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !userFacing(volume) || seen.contains(volume.rootPath())) continue;
        seen.insert(volume.rootPath());
        list.append({volume.rootPath(), volume.name()});
    }
    if (!seen.contains(QStringLiteral("/"))) list.append({QStringLiteral("/"), QString()});
    std::sort(list.begin(), list.end(), [](const DriveInfo& a, const DriveInfo& b) { return a.root < b.root; });
    return list;
}

void setDriveSource(DriveSource s, DriveCheck available) {
    source() = std::move(s);
    check() = std::move(available);
    currentFolders().clear();
}

QList<DriveInfo> drives() { return source() ? source()() : systemDrives(); }

bool driveAvailable(const QString& root) {
    if (check()) return check()(root);
    const QFileInfo info(root);
    return info.isDir() && info.isReadable();
}

bool driveOf(const QString& path, DriveInfo* drive) {
    bool found = false;
    for (const DriveInfo& d : drives()) {
        if (isUnder(path, d.root) && (!found || d.root.size() > drive->root.size())) {
            *drive = d;
            found = true;
        }
    }
    return found;
}

QString currentFolderOf(const DriveInfo& drive) {
    const auto remembered = currentFolders().constFind(drive.root);
    return remembered != currentFolders().constEnd() ? *remembered : drive.root;
}

void rememberCurrentFolder(const QString& folder) {
    DriveInfo drive;
    if (driveOf(folder, &drive)) currentFolders().insert(drive.root, folder);
}

bool fileNamesIgnoreCase(const QString& path) {
    if (caseRule()) return caseRule()(path);
    static const QSet<QByteArray> ignoring = {"vfat", "msdos", "exfat", "cifs", "smb3", "smbfs", "hfs", "hfsplus"};
    return ignoring.contains(QStorageInfo(QFileInfo(path).path()).fileSystemType());
}

void setCaseRule(CaseRule rule) { caseRule() = std::move(rule); }
