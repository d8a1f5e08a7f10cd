#include "source_tree.h"

#include "conversion_run.h"
#include "file_names.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Names that are no UTF-8 text reach us with U+FFFD in place of their bytes,
// and two of them may read the same: such a name cannot be told apart, so it is not used.
bool garbled(const QString& name) { return name.contains(QChar::ReplacementCharacter); }
const QString kGarbled = QStringLiteral(": Its name is not UTF-8 text");

bool notOlder(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec >= b.tv_nsec;
}
bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

struct Entry {
    QString name;
    bool folder = false;
    struct stat st {};
};

class Walker {
public:
    Walker(const ConvertOptions& options, const std::function<void(const QString&)>& fail)
        : options_(options), fail_(fail) {}

    void addPath(const QString& path) {
        struct stat st {};
        if (garbled(path)) {
            failure(QStringLiteral("Cannot find file ") + path + kGarbled);
        } else if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
            failure(QStringLiteral("Cannot find file ") + path);
        } else if (S_ISDIR(st.st_mode)) {
            walkFolder(path, QString(), {});
        } else {
            addFile(path, QFileInfo(path).fileName(), st);
        }
    }

    JobList take() { return std::move(list_); }

private:
    void failure(const QString& line) {
        ++list_.failed;
        fail_(line);
    }

    // `relative` is the folder's path below the folder argument it was found under.
    void walkFolder(const QString& folder, const QString& relative, std::vector<std::pair<dev_t, ino_t>> ancestors) {
        DIR* dir = ::opendir(QFile::encodeName(folder).constData());
        struct stat self {};
        if (dir == nullptr || ::fstat(::dirfd(dir), &self) != 0) {
            if (dir) ::closedir(dir);
            failure(QStringLiteral("Cannot read folder ") + folder);
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
        for (;;) {
            errno = 0;
            const dirent* e = ::readdir(dir);
            if (e == nullptr) break;
            if (e->d_name[0] == '.') continue;  // hidden, or the folder and its parent
            if (e->d_type == DT_DIR && !options_.recursive) continue;
            const QString name = QFile::decodeName(e->d_name);
            Entry entry{name};
            if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN && !isBitmapName(name)) continue;
            if (::fstatat(::dirfd(dir), e->d_name, &entry.st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            // Symbolic links are followed to files, never to folders.
            if (S_ISLNK(entry.st.st_mode) &&
                (::fstatat(::dirfd(dir), e->d_name, &entry.st, 0) != 0 || !S_ISREG(entry.st.st_mode)))
                continue;
            if (S_ISDIR(entry.st.st_mode)) {
                if (!options_.recursive) continue;
                entry.folder = true;
            } else if (!S_ISREG(entry.st.st_mode) || !isBitmapName(name)) {
                continue;
            }
            if (garbled(name)) {
                failure(QStringLiteral("Cannot find file ") + joinPath(folder, name) + kGarbled);
                continue;
            }
            entries.push_back(entry);
        }
        const bool readFailed = errno != 0;
        ::closedir(dir);
        if (readFailed) failure(QStringLiteral("Cannot read folder ") + folder);
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
                walkFolder(path, below, ancestors);
            else
                addFile(path, below, entry.st);
        }
    }

    void addFile(const QString& source, const QString& relative, const struct stat& st) {
        const QString target = options_.outputDir.isEmpty() ? jpegNameOf(source)
                                                            : joinPath(options_.outputDir, jpegNameOf(relative));
        // The same file reached twice for the same JPEG (a folder and a file in it) is converted once.
        const QString key = QStringLiteral("%1:%2:").arg(st.st_dev).arg(st.st_ino) + QFileInfo(target).absoluteFilePath();
        if (seen_.contains(key)) return;
        seen_.insert(key);
        // A run that deletes converts even so: a JPEG holding this very picture lets the bitmap go.
        if (!options_.deleteSources && (options_.skipExisting || options_.noClobber)) {
            const QByteArray name = fileNameBytes(target);
            struct stat jpeg {};
            QString skip;
            // A JPEG that took its bitmap's time is out of date once the times differ either way
            // (a bitmap put back from an older copy).
            if (options_.skipExisting && ::stat(name.constData(), &jpeg) == 0 && S_ISREG(jpeg.st_mode) &&
                (options_.preserve ? sameTime(jpeg.st_mtim, st.st_mtim) : notOlder(jpeg.st_mtim, st.st_mtim)))
                skip = QStringLiteral("JPEG up to date");
            else if (options_.noClobber && ::lstat(name.constData(), &jpeg) == 0)
                skip = QStringLiteral("JPEG exists");
            if (!skip.isEmpty()) {
                ++list_.skipped;
                list_.jobs.push_back({source, target, 0, skip});
                return;
            }
        }
        list_.jobs.push_back({source, target, static_cast<qint64>(st.st_size), {}});
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
