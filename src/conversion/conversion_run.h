// One conversion run over a list of bitmaps, for every front end: the next
// entries are converted on worker threads while each entry in its turn is
// named, checked against what the run has written, and its bitmap deleted.
// The window and the command line only feed it entries and show its reports.
#pragma once

#include "image_conversion.h"

#include <QFuture>
#include <QList>
#include <QString>
#include <atomic>
#include <memory>

struct RunEntry {
    QString source;
    QString target;
};

// What a run knows of the JPEGs it wrote and of the bitmaps it converts.
// Runs fed one batch after another share it, so that no batch replaces a JPEG
// another one wrote, under any spelling.
struct RunMemory {
    WrittenTargets written;
    RunSources sources;
};

struct RunSettings {
    JpegOptions jpeg;  // a quality alone, as the window gives: cjpeg's defaults for the rest
    bool deleteSources = false;
    // A JPEG from before the run is replaced. Off, it stays unless it holds
    // byte for byte what this conversion made (a run interrupted before its
    // bitmap was deleted): then it counts as this bitmap's JPEG.
    bool replaceExisting = true;
    // Entries converted ahead at once; 0: one per processor and one more.
    int width = 0;
    // What the work ahead may hold; 0: a quarter of the machine's memory.
    std::size_t budget = 0;
    // Set (to anything but 0) from anywhere, even a signal handler: as stop().
    const std::atomic<int>* stop = nullptr;
    // Each JPEG takes its bitmap's modification time and permission bits.
    bool preserve = false;
    // With replaceExisting off: a file already under the JPEG's name (or one
    // that appears there before it is named) stays, and the entry is skipped.
    bool keepExisting = false;
    // Shared with the runs before and after this one; empty: its own.
    std::shared_ptr<RunMemory> memory = nullptr;
};

// What became of one entry in its turn.
struct EntryReport {
    int index = -1;
    bool started = false;  // false: the run was stopped before this entry began
    bool converted = false;  // its JPEG is there under its name
    // "Cannot save file X" and the like, then on a second line why; empty when converted.
    QString failure;
    // "Cannot delete file X" and on a second line why; empty when not asked or done.
    QString deletion;
    // The same apart, for a front end that words its own lines and shows
    // names its own way: the step that failed (Written: none), and why.
    ImageOutcome outcome = ImageOutcome::Written;
    int osError = 0;  // the system's reason for the failed step, if any
    QString reason;  // why it failed, without the names (NoMemory: what the picture needs)
    QString deletionReason;  // empty when no reason is known
    // The save failed because the target's medium takes nothing more: full,
    // read-only, gone, or its folder gone. The next entries would fail alike.
    bool targetLost = false;
    bool skipped = false;  // keepExisting: its JPEG's name was taken, nothing was written
    double seconds = 0;  // what reading, encoding and naming it took
};

class ConversionRun {
public:
    ConversionRun(const QList<RunEntry>& entries, RunSettings settings);
    ~ConversionRun();  // waits for every piece of work it started
    ConversionRun(const ConversionRun&) = delete;
    ConversionRun& operator=(const ConversionRun&) = delete;

    int size() const;
    // The turn of the next entry, done on the run's own thread (a retried
    // save or a slow flush never holds the caller's). Call once a turn has
    // finished; after the last entry it gives an invalid future.
    QFuture<EntryReport> next();
    // No entry is started from now on; those already under way still have
    // their turns, and the first entry not begun reports that it was not started.
    void stop();
    // Waits for the work ahead and throws its unnamed JPEGs away, so that no
    // file of the run stays open while the caller waits (on a box, say); it
    // is done again in the entries' turns. Call between turns.
    QFuture<void> setAside();
    // The most bytes the work ahead held at once (for benchmarks and tests).
    std::size_t peakBytes() const;

private:
    struct State;
    std::unique_ptr<State> d_;
};

// The JPEG's name for a bitmap: the path without its extension, then ".jpg".
QString jpegNameOf(const QString& path);
