#include "modPellicor.h"

#include "form_runtime.h"
#include "frmMain.h"
#include "imaging.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QtConcurrent/QtConcurrentRun>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString sFilePath;
QString sBaseName;

namespace {

bool sameFile(const QByteArray& a, const QByteArray& b) {
    if (a == b) return true;
    struct stat sa {}, sb {};
    return ::stat(a.constData(), &sa) == 0 && ::stat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
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

void ReportConversionError(const QString& prompt) {
    MsgBox(prompt, vbExclamation, QString::fromLatin1(kErrorTitle));
    setMousePointer(vbDefault);
}

QString baseNameOf(const QString& entry) {
    const qsizetype slash = entry.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = entry.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? entry.left(dot) : entry;
}

ImageOutcome convertImage(const QString& source, const QString& target, qint32 quality) {
    const QByteArray sourceName = QFile::encodeName(source);
    const QByteArray targetName = QFile::encodeName(target);
    if (sameFile(sourceName, targetName)) return ImageOutcome::CannotSave;

    BITMAPINFOHEADER header{};
    if (bmpinfo(sourceName.constData(), &header) != 0) return ImageOutcome::CannotFind;
    int depth = static_cast<qint16>(header.biBitCount);
    if (depth >= 16) depth = 24;
    const int height = header.biHeight < 0 ? -header.biHeight : header.biHeight;

    ImageDescriptor image{};
    ImageDescriptor image8{};
    if (allocimage(&image, header.biWidth, height, depth) != 0) return ImageOutcome::NoMemory;
    if (loadbmp(sourceName.constData(), &image) != 0) {
        freeimage(&image);
        return ImageOutcome::CannotLoad;
    }
    if (depth == 1 && allocimage(&image8, header.biWidth, height, 8) == 0) {
        if (convert1bitto8bit(&image, &image8) == 0) {
            freeimage(&image);
            copyimgdes(&image8, &image);
        } else {
            freeimage(&image8);  // save the 1-bit image as it is
        }
    }
    const int saved = savejpg(targetName.constData(), &image, quality);
    freeimage(&image);
    return saved == 0 ? ImageOutcome::Written : ImageOutcome::CannotSave;
}

ImageWork startImageWork(const QString& source, const QString& target, qint32 quality) {
    return QtConcurrent::run(convertImage, source, target, quality);
}

bool ConvertFile(const frmMain& form, const QString& source, const QString& target, ImageWork work) {
    ImageOutcome outcome;
    if (work.isValid()) {
        outcome = work.result();
    } else {
        const std::optional<qint32> quality = toLong(form.txtQuality->text());
        if (!quality) {
            ReportConversionError(QStringLiteral("Quality is not a number: ") + form.txtQuality->text());
            return false;
        }
        outcome = convertImage(source, target, *quality);
    }
    switch (outcome) {
    case ImageOutcome::CannotFind:
        ReportConversionError(QStringLiteral("Cannot find file ") + source);
        return false;
    case ImageOutcome::NoMemory:
        ReportConversionError(QStringLiteral("Not enough memory"));
        return false;
    case ImageOutcome::CannotLoad:
        ReportConversionError(QStringLiteral("Cannot load file ") + source);
        return false;
    case ImageOutcome::CannotSave:
        ReportConversionError(QStringLiteral("Cannot save file ") + target);
        return false;
    case ImageOutcome::Written:
        break;
    }
    if (form.chkKill->checkState() != Qt::Unchecked) {
        makeDurable(target);
        if (!Kill(source)) ReportConversionError(QStringLiteral("Cannot delete file ") + source);
    }
    return true;
}
