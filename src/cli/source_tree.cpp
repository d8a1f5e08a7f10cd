#include "source_tree.h"

#include "conversion_run.h"
#include "file_names.h"
#include "shown_name.h"

#include <QFile>
#include <QHash>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMostFoldersLookedInto = 1000;  // for the hint that -r is missing

bool notOlder(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec >= b.tv_nsec;
}
bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// `path` made absolute against `cwd` and cleaned of ".", ".." and doubled
// slashes, by its spelling alone (as the shell's `cd` takes "..").
QString absolutePath(const QString& path, const QString& cwd) {
    QStringList parts;
    const QString whole = path.startsWith(QLatin1Char('/')) ? path : cwd + QLatin1Char('/') + path;
    for (const QString& part : whole.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty()) parts.removeLast();
        } else if (part != QLatin1String(".")) {
            parts << part;
        }
    }
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

// As the shell spells it ($PWD, through links) when that is where we are,
// so that a --base typed as "$PWD/..." meets relative paths.
QString currentFolder() {
    struct stat here {}, spelled {};
    if (const char* pwd = std::getenv("PWD"); pwd != nullptr && pwd[0] == '/' && ::stat(".", &here) == 0 &&
        ::stat(pwd, &spelled) == 0 && here.st_dev == spelled.st_dev && here.st_ino == spelled.st_ino)
        return fileNameText(pwd);
    char* cwd = ::getcwd(nullptr, 0);
    const QString text = cwd != nullptr ? fileNameText(cwd) : QStringLiteral("/");
    std::free(cwd);
    return text;
}

// --exclude, as rsync has it: a pattern without '/' is matched against a
// name, one with '/' against the path below the folder argument (or --base)
// and, unless it starts with '/', against each of its ends after a '/'; a
// final '/' matches folders only.
struct Exclusion {
    QByteArray pattern;
    bool wholePath = false;
    bool anchored = false;
    bool foldersOnly = false;
};

std::vector<Exclusion> exclusionsOf(const QStringList& patterns) {
    std::vector<Exclusion> out;
    for (const QString& text : patterns) {
        Exclusion e{fileNameBytes(text)};
        while (e.pattern.size() > 1 && e.pattern.endsWith('/')) {
            e.pattern.chop(1);
            e.foldersOnly = true;
        }
        e.wholePath = e.pattern.contains('/');
        e.anchored = e.pattern.startsWith('/');
        while (e.pattern.size() > 1 && e.pattern.startsWith('/')) e.pattern.remove(0, 1);
        out.push_back(e);
    }
    return out;
}

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
    Walker(const ConvertOptions& options, std::function<void(const QString&)> fail,
           std::function<bool(ConversionJob)> take)
        : options_(options), fail_(std::move(fail)), take_(std::move(take)), cwd_(currentFolder()),
          base_(options.base.isEmpty() ? QString() : absolutePath(options.base, cwd_)),
          exclusions_(exclusionsOf(options.excludes)) {}

    void addPath(const QString& path) {
        if (halted_) return;
        // With --base, where the path's JPEGs go below -o.
        QString below;
        if (!base_.isEmpty()) {
            const QString whole = absolutePath(path, cwd_);
            const QString within = base_ == QLatin1String("/") ? base_ : base_ + QLatin1Char('/');
            if (!whole.startsWith(within) && whole != base_) return notBelowBase(path);
            below = whole.mid(within.size());
        }
        struct stat st {};
        const files::ShortPath where = systemPath(path);
        if (::stat(where.c_str(), &st) != 0) {
            failure(QStringLiteral("cannot access %1: %2").arg(shownName(path), systemReason(errno)));
        } else if (S_ISDIR(st.st_mode)) {
            walkFolder(::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), path, below, {});
        } else if (below.isEmpty() && !base_.isEmpty()) {
            notBelowBase(path);
        } else {
            const QString name = namePart(path);
            // Slash patterns meet a file given by name with its path below --base, or as given.
            if (excluded(fileNameBytes(name), fileNameBytes(base_.isEmpty() ? path : below), false)) return;
            addFile(path, base_.isEmpty() ? name : below, st);
        }
    }

    const JobList& counts() const { return list_; }

private:
    void notBelowBase(const QString& path) {
        failure(QStringLiteral("cannot convert %1: it is not below the base folder %2").arg(shownName(path), shownName(options_.base)));
    }

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
            if (::fstatat(::dirfd(dir), e->d_name, &entry.st, AT_SYMLINK_NOFOLLOW) != 0) {
                // A folder that may be listed but not entered (no x bit) must not drop its bitmaps unsaid.
                const int why = errno;
                if (why != ENOENT && (e->d_type == DT_DIR || isBitmapName(name)))
                    failure(QStringLiteral("cannot access %1: %2").arg(shownName(joinPath(folder, name)), systemReason(why)));
                continue;
            }
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
            if (!exclusions_.empty() &&
                excluded(QByteArray(e->d_name), fileNameBytes(joinPath(relative, QString())) + e->d_name, entry.folder))
                continue;
            entries.push_back(entry);
        }
        if (error != 0) failure(QStringLiteral("cannot read folder %1: %2").arg(shownName(folder), systemReason(error)));
        // A folder argument with nothing to convert but what lies below: say how to reach it.
        if (ancestors.size() == 1 && !options_.recursive && entries.empty() && subfolders) {
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
            if (halted_) return;
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

    bool excluded(const QByteArray& name, const QByteArray& below, bool folder) const {
        for (const Exclusion& e : exclusions_) {
            if (e.foldersOnly && !folder) continue;
            if (!e.wholePath) {
                if (::fnmatch(e.pattern.constData(), name.constData(), 0) == 0) return true;
                continue;
            }
            for (qsizetype from = 0;;) {
                if (::fnmatch(e.pattern.constData(), below.constData() + from, FNM_PATHNAME) == 0) return true;
                const qsizetype slash = below.indexOf('/', from);
                if (e.anchored || slash < 0) break;
                from = slash + 1;
            }
        }
        return false;
    }

    void addFile(const QString& source, const QString& relative, const struct stat& st) {
        const QString target = options_.outputDir.isEmpty() ? jpegNameOf(source)
                                                            : joinPath(options_.outputDir, jpegNameOf(relative));
        // The same file reached twice for the same JPEG (a folder and a file in it) is converted once;
        // another bitmap for it fails before it is converted (the run finds the JPEG's other spellings).
        const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
        const QString key = absolutePath(target, cwd_);
        if (const auto known = targets_.constFind(key); known != targets_.cend()) {
            if (*known != id) {
                const bool flattened = !options_.outputDir.isEmpty() && base_.isEmpty();
                failure(QStringLiteral("cannot convert %1: another bitmap of this run goes to %2%3")
                            .arg(shownName(source), shownName(target),
                                 flattened ? QStringLiteral("; keep their folders with --base") : QString()));
            }
            return;
        }
        targets_.insert(key, id);
        // A run that deletes converts even so: a JPEG holding this very picture lets the bitmap go.
        if (!options_.deleteSources && (options_.skipExisting || options_.noClobber)) {
            const files::ShortPath name = systemPath(target);
            struct stat jpeg {};
            QString skip;
            // A JPEG that took its bitmap's time is out of date once the times differ either way
            // (a bitmap put back from an older copy).
            if (options_.skipExisting && ::stat(name.c_str(), &jpeg) == 0 && S_ISREG(jpeg.st_mode) &&
                (options_.preserve ? sameTime(jpeg.st_mtim, st.st_mtim) : notOlder(jpeg.st_mtim, st.st_mtim)))
                skip = QStringLiteral("JPEG up to date");
            else if (options_.noClobber && ::lstat(name.c_str(), &jpeg) == 0)
                skip = QStringLiteral("JPEG exists");
            if (!skip.isEmpty()) {
                ++list_.skipped;
                if (!take_({source, target, 0, skip})) halted_ = true;
                return;
            }
        }
        if (!take_({source, target, static_cast<qint64>(st.st_size), {}})) halted_ = true;
    }

    const ConvertOptions& options_;
    const std::function<void(const QString&)> fail_;
    const std::function<bool(ConversionJob)> take_;
    const QString cwd_;
    const QString base_;  // absolute; empty without --base
    const std::vector<Exclusion> exclusions_;
    bool halted_ = false;  // the run takes no more
    JobList list_;
    // Each JPEG's absolute path and the bitmap it is made from.
    QHash<QString, std::pair<dev_t, ino_t>> targets_;
};

}  // namespace

struct SourceWalker::Walk : Walker {
    using Walker::Walker;
};

SourceWalker::SourceWalker(const ConvertOptions& options, std::function<void(const QString&)> fail,
                           std::function<bool(ConversionJob)> take)
    : d_(std::make_unique<Walk>(options, std::move(fail), std::move(take))) {}
SourceWalker::~SourceWalker() = default;
void SourceWalker::add(const QString& path) { d_->addPath(path); }
int SourceWalker::failed() const { return d_->counts().failed; }
int SourceWalker::skipped() const { return d_->counts().skipped; }

JobList collectJobs(const ConvertOptions& options, const std::function<void(const QString&)>& fail) {
    std::vector<ConversionJob> jobs;
    SourceWalker walker(options, fail, [&jobs](ConversionJob job) {
        jobs.push_back(std::move(job));
        return true;
    });
    for (const QString& path : options.paths) walker.add(path);
    return {std::move(jobs), walker.failed(), walker.skipped()};
}

namespace {
constexpr qsizetype kLongestListedPath = qsizetype{1} << 20;  // a list without separators must not fill the memory
}

PathList::PathList(const QString& file, bool nulSeparated) : nul_(nulSeparated) {
    if (file == QLatin1String("-")) {
        fd_ = STDIN_FILENO;
    } else {
        fd_ = ::open(fileNameBytes(file).constData(), O_RDONLY | O_CLOEXEC);
        ownFd_ = fd_ >= 0;
    }
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        error_ = errno;
    else if (S_ISDIR(st.st_mode))
        error_ = EISDIR;
}

PathList::~PathList() {
    if (ownFd_) ::close(fd_);
}

std::optional<QString> PathList::next(const std::function<bool()>& stopped) {
    for (;;) {
        const qsizetype end = buffer_.indexOf(nul_ ? '\0' : '\n', pos_);
        if (end >= 0 || (ended_ && pos_ < buffer_.size())) {
            QByteArray path = buffer_.mid(pos_, (end >= 0 ? end : buffer_.size()) - pos_);
            pos_ = end >= 0 ? end + 1 : buffer_.size();
            if (!nul_ && path.endsWith('\r')) path.chop(1);
            if (!path.isEmpty()) return fileNameText(path);
            continue;
        }
        if (ended_ || error_ != 0 || (stopped && stopped())) return std::nullopt;
        buffer_.remove(0, pos_);
        pos_ = 0;
        if (buffer_.size() > kLongestListedPath) {
            error_ = ENAMETOOLONG;
            continue;
        }
        // Waits a moment at a time, so that a stop is heard while the writer is silent.
        pollfd wait{fd_, POLLIN, 0};
        if (const int ready = ::poll(&wait, 1, 100); ready == 0 || (ready < 0 && errno == EINTR)) {
            continue;  // nothing yet, or a signal: look at the stop first
        } else if (ready < 0) {
            error_ = errno;
            continue;
        }
        char chunk[1 << 16];
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got > 0)
            buffer_.append(chunk, got);
        else if (got == 0)
            ended_ = true;
        else if (errno != EINTR && errno != EAGAIN)
            error_ = errno;
    }
}
