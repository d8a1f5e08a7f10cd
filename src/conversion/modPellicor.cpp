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
    // Another spelling of a JPEG this run wrote (a.bmp, then a.BMP): the first
    // picture stays, and this one is never given the name.
    if (result.outcome == ImageOutcome::Written && written && written->contains(target))
        result.refuse(QStringLiteral("Another entry of this run has just written it"));
    else if (result.outcome == ImageOutcome::Written && result.commit() && written)
        written->add(target);
    if (result.outcome != ImageOutcome::Written) {
        ReportConversionError(failureText(result, source, target));
        return false;
    }
    if (form.chkKill->checkState() != Qt::Unchecked && isBitmapName(source)) {
        // Deleted only once its JPEG is surely on the disk, and only the file that was read.
        if (const QString refusal = deletionRefusal(source, target, result); !refusal.isEmpty())
            ReportConversionError(QStringLiteral("Cannot delete file ") + source + QLatin1Char('\n') + refusal);
        else if (!Kill(source))
            ReportConversionError(QStringLiteral("Cannot delete file ") + source);
    }
    return true;
}
