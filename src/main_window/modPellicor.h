// The conversion of one bitmap file into one JPEG file as the window does it,
// and the folder the window's commands share.
#pragma once

#include <QEventLoop>
#include <QString>

class ConversionRun;

// The program's current folder, exactly as the folder list reports it.
extern QString sFilePath;

// Converts `source` into `target` at `quality`, deleting a bitmap source
// once its JPEG is on disk when `deleteSource` is set; with `run`, takes that
// run's next turn instead, which must be this entry's (the run carries the
// quality and the delete choice). The window keeps painting meanwhile.
// Reports each failure in a message box. True when the JPEG was written.
bool ConvertFile(const QString& source, const QString& target, qint32 quality, bool deleteSource,
                 ConversionRun* run = nullptr);

// What a run lets through while it waits: the window repaints (a window
// dragged across it leaves no trace), but no click or key of the user's is
// carried out. Files handed over by another process are answered at once,
// and queued when the run is over.
constexpr QEventLoop::ProcessEventsFlags kWhileRunning = QEventLoop::ExcludeUserInputEvents;

constexpr const char* kErrorTitle = "Err encountered!";

// "Quality is not a number: " and the text, cut with an ellipsis where it
// would run off the message box.
QString qualityRefusal(const QString& text);

// Shows a conversion failure (exclamation icon, kErrorTitle), then the default pointer.
void ReportConversionError(const QString& prompt);
