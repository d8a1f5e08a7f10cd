// Converting the next entries of a run on worker threads while the run
// names and deletes in list order.
#pragma once

#include "file_identity.h"
#include "image_conversion.h"

#include <QFuture>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <map>
#include <vector>

using ImageWork = QFuture<ImageResult>;

// Starts the conversion of `source` on a pool that lives on, so no file pays
// for starting a thread. Work that has not begun when `stopped` says so does
// nothing (what it asks must outlive the work).
using StopAsked = std::function<bool()>;
ImageWork startImageWork(const QString& source, const QString& target, const JpegOptions& jpeg, StopAsked stopped = {});

// A quarter of the machine's physical memory: what the work ahead may hold.
std::size_t workAheadBudget();

// Raises the process's soft limit of open files to its hard limit: work
// ahead holds a file for each JPEG made and not yet named.
void raiseOpenFileLimit();

// How many conversions may be under way or waiting at once with the
// descriptors left (each holds up to three files while it works).
int descriptorRoom();

// Starts the imaging work of upcoming entries, `width` at most, while the
// memory they hold stays within the budget (one at least) and descriptors
// remain. An entry whose files an unfinished earlier entry reads, writes or
// deletes waits for its turn, so every file sees the same events as in a run
// one by one. Every piece of work started is waited for: what is not taken
// is waited for when this object goes.
class WorkAhead {
public:
    WorkAhead(const QStringList& sources, const QStringList& targets, const JpegOptions& jpeg, std::size_t budget, int width,
              StopAsked stopped);
    ~WorkAhead();
    WorkAhead(const WorkAhead&) = delete;
    WorkAhead& operator=(const WorkAhead&) = delete;

    // Entries before `current` are finished; those from `unsettled` on
    // (deleting their bitmaps, say) still count as touching their files.
    void startAhead(int current, const WrittenTargets& written, int unsettled = -1);
    // Whether work was started for entry k and has not been taken.
    bool started(int k) const { return work_.count(k) > 0; }
    // The work started for entry k, left in place.
    ImageWork peek(int k) const { return work_.count(k) > 0 ? work_.at(k).first : ImageWork{}; }
    // The work started for entry k, or none when k is to be converted in its turn.
    ImageWork take(int k);
    // Waits for all work started and throws its JPEGs away (a full disk:
    // what was made ahead gives its room back); those entries are done in their turns.
    void dropAll();
    std::size_t peakBytes() const { return peak_; }

private:
    const std::array<std::optional<FileId>, 2>& idsOf(int j);
    bool sharesFiles(int j, int from);

    QStringList sources_;
    QStringList targets_;
    JpegOptions jpeg_;
    StopAsked stopped_;
    std::size_t budget_;
    int width_;
    int next_ = 0;
    std::size_t inFlight_ = 0;
    std::size_t peak_ = 0;
    std::map<int, std::pair<ImageWork, std::size_t>> work_;
    std::vector<std::optional<std::array<std::optional<FileId>, 2>>> ids_;  // source, target
};
