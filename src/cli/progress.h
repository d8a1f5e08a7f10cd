// What a command-line run says on standard error: a line for each failure,
// a progress bar while it works (only when that is a terminal), and a summary.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

struct RunCounts {
    int converted = 0;
    int failed = 0;
    int skipped = 0;
    bool unfinished = false;  // a failure line was printed (a bitmap kept although converted, too)
    bool planned = false;  // a dry run: "converted" are those it would convert
};

class Progress {
public:
    Progress(bool quiet, bool terminal);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // The work ahead (files -1: not known while a list is still read); the bar starts now.
    // The summary's time runs from this object's making.
    void start(qint64 files, qint64 bytes);
    void setTotal(qint64 files, qint64 bytes);
    void failure(const QString& line);
    void fileDone(qint64 bytes);
    // Takes the bar away and prints "N converted, M failed, K skipped in T s" ("N to convert" for a dry run).
    void finish(const RunCounts& counts);

    // "12/200 [####------] 31.0 files/s 70.2 MB/s 0:05 left", cut to `columns`;
    // without a total (files -1): "12 done 31.0 files/s 70.2 MB/s".
    static QString barLine(qint64 done, qint64 files, qint64 doneBytes, qint64 bytes, double seconds, int columns);

private:
    void draw();  // with mutex_ held
    void stopBar();

    const bool quiet_;
    const bool terminal_;
    QElapsedTimer clock_;  // the bar's rates: from the first file on
    QElapsedTimer whole_;  // the summary's time: the folder walk too
    std::atomic<qint64> doneFiles_{0};
    std::atomic<qint64> doneBytes_{0};
    qint64 files_ = 0;
    qint64 bytes_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool barShown_ = false;
    std::thread bar_;
};
