// The conversion of one bitmap file into one JPEG file, and the folder and
// base name the window's commands share.
#pragma once

#include <QString>

class frmMain;

// The program's current folder, exactly as the folder list reports it.
extern QString sFilePath;
// The entry being converted, without its file extension.
extern QString sBaseName;

// The entry without its extension: the last dot of the last path component
// and what follows; the whole entry when there is none.
QString baseNameOf(const QString& entry);

// Converts `source` into `target` at the quality in the window's quality box,
// deleting the source afterwards when the delete option is checked. Failures
// are reported in message boxes. True when the JPEG was written.
bool ConvertFile(const frmMain& form, const QString& source, const QString& target);

constexpr const char* kErrorTitle = "Err encountered!";

// Shows a conversion failure (exclamation icon, kErrorTitle), then the default pointer.
void ReportConversionError(const QString& prompt);
