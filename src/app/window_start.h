// Starting the window with files: they are queued as a drop would queue
// them, or handed to the window already running on this desktop.
#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStringList>
#include <optional>

class frmMain;

// Queues the paths as one drop of files would (a folder gives the bitmaps directly in it).
void queueFiles(frmMain& form, const QStringList& paths);

// The window of this user on this desktop that takes the files of later starts.
class WindowInstance {
public:
    explicit WindowInstance(const QString& socketPath = defaultSocketPath());
    ~WindowInstance();
    WindowInstance(const WindowInstance&) = delete;
    WindowInstance& operator=(const WindowInstance&) = delete;

    // True when a running window took the paths (absolute ones, as windowPaths
    // gives them; there must be some). False when it refused them, closed, or
    // gave no answer within a few seconds: then it never takes them.
    bool handOver(const QStringList& paths);
    // Files handed over from now on arrive in `form`, unless another window
    // takes them, until the window closes.
    void serve(frmMain& form);

    static QString defaultSocketPath();

private:
    void receive(frmMain& form, QLocalSocket* peer);
    void answer(frmMain& form, QLocalSocket* peer, const QStringList& paths);
    void take(frmMain& form, const QStringList& paths, bool afterRun);
    void stopServing();

    QString path_;
    QLockFile lock_;  // one start at a time decides who serves
    QLocalServer server_;
    bool anotherServes_ = false;
    QStringList pending_;  // handed over during a run
};

// The files and folders of a window start, made absolute; nothing after a
// usage error (said on standard error).
std::optional<QStringList> windowPaths(const QStringList& arguments);

// The window's start: reads its arguments (files and folders; an unknown
// option is a usage error), hands them over or opens the window, and gives
// the exit status.
int runWindow(const QStringList& arguments);
