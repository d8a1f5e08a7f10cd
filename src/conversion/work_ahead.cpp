#include "work_ahead.h"

#include <QDir>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <sys/resource.h>
#include <unistd.h>

ImageWork startImageWork(const QString& source, const QString& target, const JpegOptions& jpeg, StopAsked stopped) {
    return QtConcurrent::run([source, target, jpeg, stopped] {
        if (stopped && stopped()) {
            ImageResult none;
            none.begun = false;
            return none;
        }
        return convertImage(source, target, jpeg);
    });
}

std::size_t workAheadBudget() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return std::size_t{1} << 30;
    return static_cast<std::size_t>(pages) / 4 * static_cast<std::size_t>(pageSize);
}

void raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

int descriptorRoom() {
    constexpr long kKeptFree = 64;  // for the program itself: its libraries, messages, folders
    constexpr long kPerConversion = 3;  // the bitmap, the JPEG, a folder
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1 << 20;
    const long open = static_cast<long>(QDir(QStringLiteral("/proc/self/fd")).count()) - 2;
    const long room = (static_cast<long>(std::min<rlim_t>(limit.rlim_cur, 1 << 24)) - std::max(0L, open) - kKeptFree) /
                      kPerConversion;
    return static_cast<int>(std::max(1L, room));
}

WorkAhead::WorkAhead(const QStringList& sources, const QStringList& targets, const JpegOptions& jpeg, std::size_t budget,
                     int width, StopAsked stopped)
    : sources_(sources), targets_(targets), jpeg_(jpeg), stopped_(std::move(stopped)), budget_(budget),
      width_(std::max(1, std::min(width, descriptorRoom()))), ids_(static_cast<std::size_t>(sources.size())) {}

WorkAhead::~WorkAhead() { dropAll(); }

void WorkAhead::startAhead(int current, const WrittenTargets& written, int unsettled) {
    next_ = std::max(next_, current);
    while (next_ < sources_.size() && next_ < current + width_) {
        const int j = next_;
        if (written.contains(targets_[j]) || sharesFiles(j, unsettled >= 0 ? unsettled : current)) break;
        const std::size_t bytes = conversionBytes(sources_[j], jpeg_);
        if (!work_.empty() && inFlight_ + bytes > budget_) break;
        work_[j] = {startImageWork(sources_[j], targets_[j], jpeg_, stopped_), bytes};
        inFlight_ += bytes;
        peak_ = std::max(peak_, inFlight_);
        ++next_;
    }
}

ImageWork WorkAhead::take(int k) {
    next_ = std::max(next_, k + 1);
    const auto found = work_.find(k);
    if (found == work_.end()) return {};
    const ImageWork work = found->second.first;
    inFlight_ -= found->second.second;
    work_.erase(found);
    return work;
}

void WorkAhead::dropAll() {
    for (auto& [k, work] : work_) work.first.waitForFinished();
    if (!work_.empty()) next_ = work_.begin()->first;
    work_.clear();
    inFlight_ = 0;
}

const std::array<std::optional<FileId>, 2>& WorkAhead::idsOf(int j) {
    auto& ids = ids_[static_cast<std::size_t>(j)];
    if (!ids) ids = std::array<std::optional<FileId>, 2>{fileIdOf(sources_[j]), fileIdOf(targets_[j])};
    return *ids;
}

bool WorkAhead::sharesFiles(int j, int from) {
    for (const std::optional<FileId>& mine : idsOf(j)) {
        if (!mine) continue;
        for (int i = from; i < j; ++i)
            for (const std::optional<FileId>& theirs : idsOf(i))
                if (theirs == mine) return true;
    }
    return false;
}
