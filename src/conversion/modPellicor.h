// The conversion of one bitmap file into one JPEG file, and the folder and
// base name the window's commands share.
#pragma once

#include "work_ahead.h"

#include <QString>

class frmMain;

// The program's current folder, exactly as the folder list reports it.
extern QString sFilePath;
// The entry being converted, without its file extension.
extern QString sBaseName;

// Converts `source` into `target` at the quality in the window's quality box
// (or takes the result of work started earlier), gives the JPEG its name
// unless it would replace one that `written` holds, reports a failure in a
// message box, and deletes a bitmap source when the delete option is checked
// and its JPEG is on disk. True when the JPEG was written.
bool ConvertFile(const frmMain& form, const QString& source, const QString& target, ImageWork work = {},
                 WrittenTargets* written = nullptr);

constexpr const char* kErrorTitle = "Err encountered!";

// "Quality is not a number: " and the text, cut with an ellipsis where it
// would run off the message box.
QString qualityRefusal(const QString& text);

// Shows a conversion failure (exclamation icon, kErrorTitle), then the default pointer.
void ReportConversionError(const QString& prompt);
