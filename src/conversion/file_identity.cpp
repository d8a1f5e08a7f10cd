#include "file_identity.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

bool statOf(const QString& path, struct stat& st) { return ::stat(QFile::encodeName(path).constData(), &st) == 0; }

}  // namespace

std::optional<FileId> fileIdOf(const QString& path) {
    struct stat st {};
    if (statOf(path, st)) return FileId{st.st_dev, st.st_ino, {}};
    const QFileInfo info(path);
    if (!statOf(info.absolutePath(), st)) return std::nullopt;
    return FileId{st.st_dev, st.st_ino, QFile::encodeName(info.fileName())};
}

bool sameFile(const QString& a, const QString& b) {
    if (a == b) return true;
    const std::optional<FileId> x = fileIdOf(a);
    return x && x == fileIdOf(b);
}

std::optional<FileStamp> fileStampOf(const QString& path) {
    struct stat st {};
    if (!statOf(path, st)) return std::nullopt;
    return FileStamp{st.st_dev, st.st_ino, static_cast<qint64>(st.st_size),
                     static_cast<qint64>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

bool WrittenTargets::contains(const QString& target) const {
    struct stat st {};
    return statOf(target, st) && written_.count({st.st_dev, st.st_ino}) > 0;
}

void WrittenTargets::add(const QString& target) {
    struct stat st {};
    if (statOf(target, st)) written_.insert({st.st_dev, st.st_ino});
}
