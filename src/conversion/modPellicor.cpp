#include "modPellicor.h"

#include "form_runtime.h"
#include "frmMain.h"

#include <QCheckBox>
#include <QLineEdit>

QString sFilePath;
QString sBaseName;

QString qualityRefusal(const QString& text) {
    constexpr qsizetype kShown = 40;
    const QString shown = text.size() > kShown ? text.left(kShown) + QChar(0x2026) : text;
    return QStringLiteral("Quality is not a number: ") + shown;
}

void ReportConversionError(const QString& prompt) {
    MsgBox(prompt, vbExclamation, QString::fromLatin1(kErrorTitle));
    setMousePointer(vbDefault);
}

bool ConvertFile(const frmMain& form, const QString& source, const QString& target, ImageWork work,
                 WrittenTargets* written) {
    ImageResult result;
    if (work.isValid()) result = work.result();
    // Work done ahead competed for the disk with the JPEGs before it; in its
    // turn, once they have freed what they could, it gets another try.
    if (!work.isValid() || result.outcome == ImageOutcome::CannotSave) {
        const std::optional<qint32> quality = toLong(form.txtQuality->text());
        if (!quality) {
            ReportConversionError(qualityRefusal(form.txtQuality->text()));
            return false;
        }
        result = convertImage(source, target, *quality);
    }
    if (result.outcome == ImageOutcome::Written) {
        // Another spelling of a JPEG this run wrote (a.bmp, then a.BMP): the
        // first picture stays, and this one is never given the name.
        QString refusal;
        if (written && written->contains(target))
            refusal = QStringLiteral("Another entry of this run has just written it");
        else if (!result.commit())
            refusal = result.reason();
        if (!refusal.isNull()) {
            ReportConversionError(QStringLiteral("Cannot save file ") + target + QLatin1Char('\n') + refusal);
            return false;
        }
        if (written) written->add(target);
    }
    // The message's first line says what failed; the second which file, or why.
    const QString why = QLatin1Char('\n') + result.reason();
    switch (result.outcome) {
    case ImageOutcome::CannotFind:
        ReportConversionError(QStringLiteral("Cannot find file ") + source + why);
        return false;
    case ImageOutcome::NoMemory:
        ReportConversionError(QStringLiteral("Not enough memory\n") + source);
        return false;
    case ImageOutcome::CannotLoad:
        ReportConversionError(QStringLiteral("Cannot load file ") + source + why);
        return false;
    case ImageOutcome::CannotSave:
        ReportConversionError(QStringLiteral("Cannot save file ") + target +
                              (result.code == 0 ? QStringLiteral("\nIt would replace the bitmap itself") : why));
        return false;
    case ImageOutcome::Written:
        break;
    }
    if (form.chkKill->checkState() != Qt::Unchecked && isBitmapName(source)) {
        // Deleted only once its JPEG is surely on the disk, and only the file that was read.
        if (!makeDurable(target))
            ReportConversionError(QStringLiteral("Cannot delete file ") + source +
                                  QStringLiteral("\nIts JPEG could not be flushed to the disk"));
        else if (!sourceUnchanged(source, result))
            ReportConversionError(QStringLiteral("Cannot delete file ") + source +
                                  QStringLiteral("\nIt was changed while it was being converted"));
        else if (!Kill(source))
            ReportConversionError(QStringLiteral("Cannot delete file ") + source);
    }
    return true;
}
