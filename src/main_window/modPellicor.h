// The conversion of one bitmap file into one JPEG file as the window does it,
// and the folder the window's commands share.
#pragma once

#include <QEventLoop>
#include <QString>
#include <functional>

class ConversionRun;

// The program's current folder, exactly as the folder list reports it.
extern QString sFilePath;

// What became of one entry, and whether the user chose to stop the run.
struct FileTurn {
    bool started = true;  // false: the run was stopped before this entry
    bool converted = false;  // the JPEG was written
    bool stop = false;  // the user answered a stop offer with Yes
};

// Converts `source` into `target` at `quality`, deleting a bitmap source
// once its JPEG is on disk when `deleteSource` is set; with `run`, takes that
// run's next turn instead, which must be this entry's (the run carries the
// quality and the delete choice). The window keeps painting meanwhile.
// Reports each failure in a message box, `beforeBox` called first; a failure
// that leaves the target unwritable offers to stop the run instead. While a
// box of a run is up, the run holds no file open.
FileTurn ConvertFile(const QString& source, const QString& target, qint32 quality, bool deleteSource,
                     ConversionRun* run = nullptr, const std::function<void()>& beforeBox = {});

// Waits for the run's work ahead to be set aside (see ConversionRun), painting.
void setRunAside(ConversionRun& run);

// What a run lets through while it waits: the window repaints (a window
// dragged across it leaves no trace) and input arrives, for the run's own
// filter to drop all but a request to stop. Files handed over by another
// process are answered at once, and queued when the run is over.
constexpr QEventLoop::ProcessEventsFlags kWhileRunning = QEventLoop::AllEvents;

constexpr const char* kErrorTitle = "Err encountered!";

// "Quality is not a number: " and the text, cut with an ellipsis where it
// would run off the message box.
QString qualityRefusal(const QString& text);

// Shows a conversion failure (exclamation icon, kErrorTitle), then the
// default pointer; with `style` vbYesNo, its answer.
int ReportConversionError(const QString& prompt, int style = 0);
