#include "fat_stick.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <sys/stat.h>

namespace support {
namespace {

bool isMountPoint(const QString& dir) {
    struct stat self {}, parent {};
    return ::stat(QFile::encodeName(dir).constData(), &self) == 0 &&
           ::stat(QFile::encodeName(dir + "/..").constData(), &parent) == 0 && self.st_dev != parent.st_dev;
}

// FUSE mounts and unmounts finish in the background of the tool that asked.
bool waitUntil(const QString& dir, bool mounted) {
    const QDeadlineTimer deadline(10000);
    while (isMountPoint(dir) != mounted) {
        if (deadline.hasExpired()) return false;
        QThread::msleep(20);
    }
    return true;
}

QString tool(const QString& name) {
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin"}) : found;
}

// Runs a tool to its end, its output into `log` (a daemon it leaves keeps
// writing there); true when it succeeded.
bool run(const QString& name, const QStringList& arguments, const QString& log) {
    const QString program = tool(name);
    if (program.isEmpty()) return false;
    QProcess p;
    p.setStandardOutputFile(log, QIODevice::Append);
    p.setStandardErrorFile(log, QIODevice::Append);
    p.start(program, arguments);
    if (p.waitForFinished(60000)) return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    p.kill();
    p.waitForFinished();
    return false;
}

// Makes a FAT image and mounts it on `dir`; why it could not, or nothing.
QString makeAndMount(const QString& image, const QString& dir, const QString& log) {
    if (!QFile::exists("/dev/fuse") || tool("fusefat").isEmpty() || tool("mkfs.vfat").isEmpty())
        return "needs /dev/fuse, fusefat and mkfs.vfat";
    QFile file(image);
    if (!QDir().mkpath(dir) || !file.open(QIODevice::WriteOnly) || !file.resize(32 << 20)) return "no room for the image";
    file.close();
    if (run("mkfs.vfat", {image}, log) && run("fusefat", {"-o", "rw+", image, dir}, log) && waitUntil(dir, true)) return {};
    QFile output(log);
    return "cannot mount a FAT image: " + (output.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(output.readAll()) : QString());
}

}  // namespace

FatStick::FatStick() {
    whyNot_ = dir_.isValid() ? makeAndMount(dir_.filePath("fat.img"), path(), dir_.filePath("tools.log")) : "no temporary folder";
    mounted_ = whyNot_.isEmpty();
}

FatStick::~FatStick() {
    if (!isMountPoint(path())) return;
    const QString log = dir_.filePath("tools.log");
    if (!run("fusermount", {"-u", path()}, log) && !run("fusermount3", {"-u", path()}, log)) run("umount", {path()}, log);
    waitUntil(path(), false);
}

}  // namespace support
