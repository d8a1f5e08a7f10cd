// The conversion of one bitmap file into one JPEG file, and the folder and
// base name the window's commands share.
#pragma once

#include <QFuture>
#include <QString>

class frmMain;

// The program's current folder, exactly as the folder list reports it.
extern QString sFilePath;
// The entry being converted, without its file extension.
extern QString sBaseName;

// The entry without its extension: the last dot of the last path component
// and what follows; the whole entry when there is none.
QString baseNameOf(const QString& entry);

// The imaging part of a conversion: which step failed, if any.
enum class ImageOutcome { Written, CannotFind, NoMemory, CannotLoad, CannotSave };

// Reads `source`, writes `target` at `quality`; safe on any thread. A target
// that is the source itself is refused, as a save that cannot be done.
ImageOutcome convertImage(const QString& source, const QString& target, qint32 quality);

// The imaging part running ahead of its turn on a worker thread (a pool that
// lives on, so no file pays for starting a thread).
using ImageWork = QFuture<ImageOutcome>;
ImageWork startImageWork(const QString& source, const QString& target, qint32 quality);

// Converts `source` into `target` at the quality in the window's quality box
// (or takes the result of work started earlier), reports a failure in a
// message box, and deletes the source when the delete option is checked and
// the JPEG was written. True when the JPEG was written.
bool ConvertFile(const frmMain& form, const QString& source, const QString& target, ImageWork work = {});

constexpr const char* kErrorTitle = "Err encountered!";

// Shows a conversion failure (exclamation icon, kErrorTitle), then the default pointer.
void ReportConversionError(const QString& prompt);
