// Which paths name the same file. Spellings lie (symbolic links, bind
// mounts, hard links, file systems that ignore letter case), so a file is
// known by its device and inode, and a name that does not exist yet by its
// folder's device and inode plus the name.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>
#include <map>
#include <set>
#include <sys/types.h>
#include <utility>

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    QByteArray name;  // empty for an existing file; the name in its folder otherwise
    bool operator==(const FileId&) const = default;
};

// What `path` names now; nothing when neither it nor its folder exists.
std::optional<FileId> fileIdOf(const QString& path);

// Whether two paths name the same existing file, or the same name in the same
// folder, also where they differ only in letter case in a folder that ignores
// it (and when that cannot be told).
bool sameFile(const QString& a, const QString& b);

// A file as it was when a conversion read it, to tell later whether another
// program has replaced or changed it since.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    unsigned permissions = 0;  // its 0777 bits, for a JPEG that keeps them; a change of them alone is no change
    bool operator==(const FileStamp& o) const {
        return device == o.device && inode == o.inode && size == o.size && modifiedNs == o.modifiedNs;
    }
};
std::optional<FileStamp> fileStampOf(const QString& path);

// The JPEGs one run has written, so that no later entry of the run replaces
// one of them under another spelling (a.bmp and a.BMP, d/x.bmp and L/x.bmp
// where L links to d, x.jpg and X.jpg on a stick whose names ignore case).
// Each is a file the run created, so its inode is known to belong to it; on
// file systems that make up inode numbers per name (FUSE), the folder itself
// is asked whether two spellings name one file.
class WrittenTargets {
public:
    // Whether `target` now names a JPEG this run wrote.
    bool contains(const QString& target) const;
    void add(const QString& target);

private:
    std::set<std::pair<dev_t, ino_t>> written_;  // a long run asks often
    QHash<QString, QString> folded_;  // case-folded absolute path -> the path written
    mutable QHash<QString, bool> sameFolder_;  // "written folder\nother folder" -> one folder ignoring case
};

// The bitmaps a run converts, so that no JPEG is named over one of them. An
// inode number is only a bitmap's while the bitmap is still there under its
// path: another program may delete it and its number go to a new file.
class RunSources {
public:
    void add(const QString& source);
    // Whether `target` now names one of the run's bitmaps.
    bool named(const QString& target);
    void forget(const QString& source);

private:
    std::map<std::pair<dev_t, ino_t>, QString> ids_;
    QHash<QString, std::pair<dev_t, ino_t>> paths_;
    QHash<QString, QString> folded_;  // case-folded absolute path -> the source
};

// Whether two absolute paths that differ only in letter case name one file:
// they do where their folder ignores case, whatever inode numbers say. Asked
// with a short-lived hidden file; nothing when that cannot be made.
std::optional<bool> oneFileIgnoringCase(const QString& a, const QString& b);
