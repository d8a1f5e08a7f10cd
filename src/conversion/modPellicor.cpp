#include "modPellicor.h"

#include "form_runtime.h"
#include "frmMain.h"
#include "imaging.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString sFilePath;
QString sBaseName;

void ReportConversionError(const QString& prompt) {
    MsgBox(prompt, vbExclamation, QString::fromLatin1(kErrorTitle));
    setMousePointer(vbDefault);
}

namespace {

void fail(const QString& prompt) { ReportConversionError(prompt); }

bool sameFile(const QString& a, const QString& b) {
    if (a == b) return true;
    struct stat sa {}, sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The JPEG and its folder entry reach the disk before the only other copy
// of the picture is deleted.
void makeDurable(const QString& path) {
    for (const QString& name : {path, QFileInfo(path).absolutePath()}) {
        const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

QString baseNameOf(const QString& entry) {
    const qsizetype slash = entry.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = entry.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? entry.left(dot) : entry;
}

bool ConvertFile(const frmMain& form, const QString& source, const QString& target) {
    const std::optional<qint32> quality = toLong(form.txtQuality->text());
    if (!quality) {
        fail(QStringLiteral("Quality is not a number: ") + form.txtQuality->text());
        return false;
    }
    if (sameFile(source, target)) {
        fail(QStringLiteral("Cannot save file ") + target);
        return false;
    }
    const QByteArray sourceName = QFile::encodeName(source);
    const QByteArray targetName = QFile::encodeName(target);

    BITMAPINFOHEADER header{};
    if (bmpinfo(sourceName.constData(), &header) != 0) {
        fail(QStringLiteral("Cannot find file ") + source);
        return false;
    }
    int depth = static_cast<qint16>(header.biBitCount);
    if (depth >= 16) depth = 24;

    ImageDescriptor image{};
    ImageDescriptor image8{};
    const int height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    if (allocimage(&image, header.biWidth, height, depth) != 0) {
        fail(QStringLiteral("Not enough memory"));
        return false;
    }
    if (loadbmp(sourceName.constData(), &image) != 0) {
        freeimage(&image);
        fail(QStringLiteral("Cannot load file ") + source);
        return false;
    }
    if (depth == 1 && allocimage(&image8, header.biWidth, height, 8) == 0) {
        if (convert1bitto8bit(&image, &image8) == 0) {
            freeimage(&image);
            copyimgdes(&image8, &image);
        } else {
            freeimage(&image8);  // save the 1-bit image as it is
        }
    }
    const int saved = savejpg(targetName.constData(), &image, *quality);
    freeimage(&image);
    if (saved != 0) {
        fail(QStringLiteral("Cannot save file ") + target);
        return false;
    }

    if (form.chkKill->checkState() != Qt::Unchecked) {
        makeDurable(target);
        if (!Kill(source)) fail(QStringLiteral("Cannot delete file ") + source);
    }
    return true;
}
