#include "source_tree.h"

#include "conversion_run.h"
#include "file_names.h"
#include "shown_name.h"

#include <QFile>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMostFoldersLookedInto = 1000;  // for the hint that -r is missing

bool notOlder(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec >= b.tv_nsec;
}

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

struct Entry {
    QString name;
    bool folder = false;
    struct stat st {};
};

// Whether a bitmap file lies somewhere below the folder `fd` (closed here),
// looking into `budget` folders at most.
bool bitmapsBelow(int fd, int& budget) {
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    bool found = false;
    std::vector<std::string> folders;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, 0) != 0) continue;
        if (S_ISREG(st.st_mode) && isBitmapName(fileNameText(e->d_name))) found = true;
        if (S_ISDIR(st.st_mode)) folders.emplace_back(e->d_name);
        if (found) break;
    }
    for (const std::string& name : folders) {
        if (found || --budget < 0) break;
        found = bitmapsBelow(::openat(::dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), budget);
    }
    ::closedir(dir);
    return found;
}

class Walker {
public:
    Walker(const ConvertOptions& options, const std::function<void(const QString&)>& fail)
        : options_(options), fail_(fail) {}

    void addPath(const QString& path) {
        struct stat st {};
        if (::stat(systemPath(path).c_str(), &st) != 0) {
            failure(QStringLiteral("cannot access %1: %2").arg(shownName(path), systemReason(errno)));
        } else if (S_ISDIR(st.st_mode)) {
            walkFolder(::open(systemPath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), path, QString(), {});
        } else {
            addFile(path, namePart(path), st);
        }
    }

    JobList take() { return std::move(list_); }

private:
    void failure(const QString& line) {
        ++list_.failed;
        fail_(QStringLiteral("pellicor: ") + line);
    }

    // Walks the folder opened as `fd` (taken over; -1 with errno when it could not be opened).
    // Each folder below is opened relative to its parent, so no path grows past what one call takes.
    // `relative` is the folder's path below the folder argument it was found under.
    void walkFolder(int fd, const QString& folder, const QString& relative, std::vector<std::pair<dev_t, ino_t>> ancestors) {
        DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
        struct stat self {};
        if (dir == nullptr || ::fstat(fd, &self) != 0) {
            const int error = errno;
            if (dir) ::closedir(dir);
            else if (fd >= 0) ::close(fd);
            failure(QStringLiteral("cannot read folder %1: %2").arg(shownName(folder), systemReason(error)));
            return;
        }
        // A bind mount can hold its own parent: never walk into a folder twice on one way down.
        const std::pair<dev_t, ino_t> id{self.st_dev, self.st_ino};
        if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end()) {
            ::closedir(dir);
            return;
        }
        ancestors.push_back(id);
        std::vector<Entry> entries;
        bool subfolders = false;
        int error = 0;
        for (;;) {
            errno = 0;
            const dirent* e = ::readdir(dir);
            if (e == nullptr) {
                error = errno;
                break;
            }
            if (e->d_name[0] == '.') continue;  // hidden, or the folder and its parent
            if (e->d_type == DT_DIR && !options_.recursive) {
                subfolders = true;
                continue;
            }
            const QString name = fileNameText(e->d_name);
            Entry entry{name};
            if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN && !isBitmapName(name)) continue;
            if (::fstatat(::dirfd(dir), e->d_name, &entry.st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            // Symbolic links are followed to files, never to folders.
            if (S_ISLNK(entry.st.st_mode) &&
                (::fstatat(::dirfd(dir), e->d_name, &entry.st, 0) != 0 || !S_ISREG(entry.st.st_mode)))
                continue;
            if (S_ISDIR(entry.st.st_mode)) {
                subfolders = true;
                if (!options_.recursive) continue;
                entry.folder = true;
            } else if (!S_ISREG(entry.st.st_mode) || !isBitmapName(name)) {
                continue;
            }
            entries.push_back(entry);
        }
        if (error != 0) failure(QStringLiteral("cannot read folder %1: %2").arg(shownName(folder), systemReason(error)));
        // A folder argument with nothing to convert but what lies below: say how to reach it.
        if (relative.isEmpty() && !options_.recursive && entries.empty() && subfolders) {
            int budget = kMostFoldersLookedInto;
            if (bitmapsBelow(::openat(::dirfd(dir), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC), budget))
                fail_(QStringLiteral("pellicor: %1 holds no bitmaps; its subfolders do: add -r to convert them")
                          .arg(shownName(folder)));
        }
        // The file list's order: by name regardless of case, files before folders.
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            if (a.folder != b.folder) return !a.folder;
            const int c = a.name.compare(b.name, Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a.name < b.name;
        });
        for (const Entry& entry : entries) {
            const QString path = joinPath(folder, entry.name);
            const QString below = joinPath(relative, entry.name);
            if (entry.folder)
                walkFolder(::openat(::dirfd(dir), fileNameBytes(entry.name).constData(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC),
                           path, below, ancestors);
            else
                addFile(path, below, entry.st);
        }
        ::closedir(dir);
    }

    void addFile(const QString& source, const QString& relative, const struct stat& st) {
        const QString target = options_.outputDir.isEmpty() ? jpegNameOf(source)
                                                            : joinPath(options_.outputDir, jpegNameOf(relative));
        // The same file reached twice for the same JPEG (a folder and a file in it) is converted once.
        const QString key = QStringLiteral("%1:%2:").arg(st.st_dev).arg(st.st_ino) + absolutePathOf(target);
        if (seen_.contains(key)) return;
        seen_.insert(key);
        // A run that deletes converts even so: a JPEG holding this very picture lets the bitmap go.
        if (options_.skipExisting && !options_.deleteSources) {
            struct stat jpeg {};
            if (::stat(systemPath(target).c_str(), &jpeg) == 0 && S_ISREG(jpeg.st_mode) &&
                notOlder(jpeg.st_mtim, st.st_mtim)) {
                ++list_.skipped;
                return;
            }
        }
        list_.jobs.push_back({source, target, static_cast<qint64>(st.st_size)});
    }

    const ConvertOptions& options_;
    const std::function<void(const QString&)>& fail_;
    JobList list_;
    QSet<QString> seen_;
};

}  // namespace

JobList collectJobs(const ConvertOptions& options, const std::function<void(const QString&)>& fail) {
    Walker walker(options, fail);
    for (const QString& path : options.paths) walker.addPath(path);
    return walker.take();
}

std::optional<QStringList> readPathList(const QString& file, bool nulSeparated) {
    QFile list(file);
    const bool opened = file == QLatin1String("-") ? list.open(stdin, QIODevice::ReadOnly)
                                                   : list.open(QIODevice::ReadOnly);
    if (!opened) return std::nullopt;
    const QByteArray bytes = list.readAll();
    QStringList paths;
    for (const QByteArray& line : bytes.split(nulSeparated ? '\0' : '\n')) {
        QByteArray path = line;
        if (!nulSeparated && path.endsWith('\r')) path.chop(1);
        if (!path.isEmpty()) paths << QFile::decodeName(path);
    }
    return paths;
}
