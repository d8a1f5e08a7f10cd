// Which paths name the same file. Spellings lie (symbolic links, bind
// mounts, hard links, file systems that ignore letter case), so a file is
// known by its device and inode, and a name that does not exist yet by its
// folder's device and inode plus the name.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
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

// Whether two paths name the same existing file, or the same name in the same folder.
bool sameFile(const QString& a, const QString& b);

// A file as it was when a conversion read it, to tell later whether another
// program has replaced or changed it since.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> fileStampOf(const QString& path);

// The JPEGs one run has written, so that no later entry of the run replaces
// one of them under another spelling (a.bmp and a.BMP, d/x.bmp and L/x.bmp
// where L links to d). Each is a file the run created, so its inode is
// known to belong to it.
class WrittenTargets {
public:
    // Whether `target` now names a JPEG this run wrote.
    bool contains(const QString& target) const;
    void add(const QString& target);

private:
    std::set<std::pair<dev_t, ino_t>> written_;  // a long run asks often
};
