#include "file_identity.h"

#include "file_names.h"
#include "image_conversion.h"
#include "target_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool statOf(const QString& path, struct stat& st) { return ::stat(systemPath(path).c_str(), &st) == 0; }

}  // namespace

std::optional<FileId> fileIdOf(const QString& path) {
    struct stat st {};
    if (statOf(path, st)) return FileId{st.st_dev, st.st_ino, {}};
    if (!statOf(folderPart(path), st)) return std::nullopt;
    return FileId{st.st_dev, st.st_ino, fileNameBytes(namePart(path))};
}

bool sameFile(const QString& a, const QString& b) {
    if (a == b) return true;
    const std::optional<FileId> x = fileIdOf(a);
    if (x && x == fileIdOf(b)) return true;
    return oneFileIgnoringCase(absolutePathOf(a), absolutePathOf(b)).value_or(true);
}

std::optional<FileStamp> fileStampOf(const QString& path) {
    struct stat st {};
    if (!statOf(path, st)) return std::nullopt;
    return FileStamp{st.st_dev, st.st_ino, static_cast<qint64>(st.st_size),
                     static_cast<qint64>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                     static_cast<unsigned>(st.st_mode & 0777)};
}

bool WrittenTargets::contains(const QString& target) const {
    struct stat st {};
    if (statOf(target, st) && written_.count({st.st_dev, st.st_ino}) > 0) return true;
    if (folded_.isEmpty()) return false;
    const QString path = absolutePathOf(target);
    const auto found = folded_.constFind(path.toCaseFolded());
    if (found == folded_.constEnd() || *found == path) return false;
    // The same letters in another case: one file only where the folder ignores case.
    const QString key = folderPart(*found) + QLatin1Char('\n') + folderPart(path);
    if (const auto known = sameFolder_.constFind(key); known != sameFolder_.constEnd()) return *known;
    const std::optional<bool> same = oneFileIgnoringCase(*found, path);
    if (same) sameFolder_.insert(key, *same);
    return same.value_or(true);  // a folder that cannot be asked is taken to ignore case
}

void WrittenTargets::add(const QString& target) {
    struct stat st {};
    if (statOf(target, st)) written_.insert({st.st_dev, st.st_ino});
    const QString path = absolutePathOf(target);
    folded_.insert(path.toCaseFolded(), path);
}

void RunSources::add(const QString& source) {
    struct stat st {};
    if (!statOf(source, st)) return;
    ids_.insert({{st.st_dev, st.st_ino}, source});
    paths_.insert(source, {st.st_dev, st.st_ino});
    folded_.insert(absolutePathOf(source).toCaseFolded(), source);
}

bool RunSources::named(const QString& target) {
    struct stat st {};
    if (!statOf(target, st)) return false;
    const auto found = ids_.find({st.st_dev, st.st_ino});
    if (found != ids_.end()) {
        struct stat now {};
        if (statOf(found->second, now) && now.st_dev == st.st_dev && now.st_ino == st.st_ino) return true;
        ids_.erase(found);  // that bitmap is gone, and its number belongs to another file now
    }
    // Another spelling of a bitmap where names ignore case (FUSE gives each spelling a number of its own).
    const QString path = absolutePathOf(target);
    struct stat there {};
    const auto spelt = folded_.constFind(path.toCaseFolded());
    return spelt != folded_.constEnd() && paths_.contains(*spelt) && statOf(*spelt, there) &&
           oneFileIgnoringCase(absolutePathOf(*spelt), path).value_or(true);
}

void RunSources::forget(const QString& source) {
    const auto id = paths_.constFind(source);
    if (id == paths_.constEnd()) return;
    if (const auto found = ids_.find(*id); found != ids_.end() && found->second == source) ids_.erase(found);
    paths_.erase(id);
    folded_.remove(absolutePathOf(source).toCaseFolded());
}

std::optional<bool> oneFileIgnoringCase(const QString& a, const QString& b) {
    if (a == b) return true;
    if (a.toCaseFolded() != b.toCaseFolded()) return false;
    // A file made in a's folder under a name in small letters, looked for in
    // b's folder in capitals; its name is one the next writer there sweeps
    // away should this process die meanwhile.
    const std::string probe = imaging::temporaryName(fileNameBytes(folderPart(a)).toStdString());
    const files::ShortPath made(probe);
    const int fd = ::open(made.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return std::nullopt;
    ::close(fd);
    const QString name = fileNameText(QByteArray::fromStdString(probe.substr(probe.rfind('/') + 1)));
    struct stat st {};
    const bool same = statOf(joinPath(folderPart(b), name.toUpper()), st);
    ::unlink(made.c_str());
    return same;
}
