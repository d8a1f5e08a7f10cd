#include "window_start.h"

#include "frmMain.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLocalSocket>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QRegularExpression>
#include <QUrl>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kWaitMs = 3000;
constexpr int kExitPollMs = 50;

}  // namespace

std::optional<QStringList> windowPaths(const QStringList& arguments) {
    QStringList paths;
    bool optionsEnd = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (!optionsEnd && a == QLatin1String("--")) {
            optionsEnd = true;
        } else if (!optionsEnd && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            std::fprintf(stderr, "pellicor: unknown option '%s' (options other than --help and --version need --convert)\n"
                                 "Try 'pellicor --help' for more information.\n",
                         QFile::encodeName(a).constData());
            return std::nullopt;
        } else if (!a.isEmpty()) {
            paths << QFileInfo(a).absoluteFilePath();  // the process will leave the folder they are relative to
        }
    }
    return paths;
}

void queueFiles(frmMain& form, const QStringList& paths) {
    QList<QUrl> files;
    for (const QString& path : paths) files << QUrl::fromLocalFile(path);
    QMimeData drop;
    drop.setUrls(files);
    form.List1_OLEDragDrop(&drop);
}

WindowInstance::WindowInstance(const QString& socketPath) : path_(socketPath), lock_(socketPath + QStringLiteral(".lock")) {
    lock_.setStaleLockTime(kWaitMs);
    lock_.tryLock(kWaitMs);  // without it, two windows may serve; nothing worse
}

WindowInstance::~WindowInstance() = default;

bool WindowInstance::handOver(const QStringList& paths) {
    // A socket in a shared folder must be our own, or the paths would go to a stranger.
    const QFileInfo socket(path_);
    if (!socket.exists() || socket.ownerId() != ::getuid()) return false;
    QLocalSocket peer;
    peer.connectToServer(path_);
    if (!peer.waitForConnected(kWaitMs)) return false;
    anotherServes_ = true;
    if (paths.isEmpty()) return false;  // a start without files opens a window of its own
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << paths;
    peer.write(message);
    // The window answers once it holds the paths, even during a run. One that
    // closes first, or is stopped, or hangs, does not: this start then opens
    // a window of its own with them.
    const QDeadlineTimer deadline(kWaitMs);
    while (peer.bytesToWrite() > 0 && peer.state() == QLocalSocket::ConnectedState && !deadline.hasExpired())
        peer.waitForBytesWritten(int(deadline.remainingTime()));
    while (peer.bytesAvailable() == 0 && peer.state() == QLocalSocket::ConnectedState && !deadline.hasExpired())
        peer.waitForReadyRead(int(deadline.remainingTime()));
    bool taken = peer.bytesAvailable() > 0;
    if (!taken && peer.state() == QLocalSocket::ConnectedState) {
        // The window writes its answer before it takes the files, and takes
        // them only if the write went through. Once this end stops reading,
        // such a write fails: an answer is here now, or the window leaves the
        // files alone. So never both windows queue them, and never neither.
        const auto fd = static_cast<int>(peer.socketDescriptor());
        char answer = 0;
        taken = ::shutdown(fd, SHUT_RD) == 0 && ::recv(fd, &answer, 1, MSG_DONTWAIT) == 1;
    }
    peer.abort();
    if (!taken) anotherServes_ = false;  // this window takes over the socket
    return taken;
}

void WindowInstance::receive(frmMain& form, QLocalSocket* peer) {
    QDataStream in(peer);
    in.setVersion(QDataStream::Qt_6_4);
    in.startTransaction();
    QStringList paths;
    in >> paths;
    if (!in.commitTransaction()) return;  // more to come
    answer(form, peer, paths);
}

void WindowInstance::answer(frmMain& form, QLocalSocket* peer, const QStringList& paths) {
    // Exit held down (or clicked by its key, which holds it down a moment)
    // closes the window once let go: no answer until then. If the window
    // closes, this start gets none and opens a window of its own.
    if (form.cmdExit->isDown()) {
        const QPointer<QLocalSocket> waiting(peer);
        QTimer::singleShot(kExitPollMs, &form, [this, &form, waiting, paths] {
            if (waiting && waiting->state() == QLocalSocket::ConnectedState) answer(form, waiting, paths);
        });
        return;
    }
    const char yes = 1;
    const bool answered = ::send(static_cast<int>(peer->socketDescriptor()), &yes, 1, MSG_NOSIGNAL) == 1;
    peer->abort();
    if (answered) take(form, paths, false);  // otherwise the start gave up waiting and opens them itself
}

void WindowInstance::take(frmMain& form, const QStringList& paths, bool afterRun) {
    // Files handed over during a run are queued after it, never swept into it.
    if (form.isConverting()) {
        pending_ << paths;
        return;
    }
    // The run's summary stays on the status line: they join the list without a word.
    const QString summary = form.lblStatus->text();
    queueFiles(form, paths);
    if (afterRun) form.setStatus(summary);
    form.setWindowState(form.windowState() & ~Qt::WindowMinimized);
    form.raise();
    form.activateWindow();
}

void WindowInstance::stopServing() {
    // Later starts find no window, and those talking to this one now get no
    // answer: each opens a window of its own.
    const QList<QLocalSocket*> peers = server_.findChildren<QLocalSocket*>();
    server_.close();
    for (QLocalSocket* peer : peers) peer->abort();
}

void WindowInstance::serve(frmMain& form) {
    if (!anotherServes_) {
        QLocalServer::removeServer(path_);  // left behind by a window that died, or one that gave no answer
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        if (server_.listen(path_)) {
            QObject::connect(&server_, &QLocalServer::newConnection, &form, [this, &form] {
                while (QLocalSocket* peer = server_.nextPendingConnection()) {
                    QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
                    QObject::connect(peer, &QLocalSocket::readyRead, &form, [this, peer, &form] { receive(form, peer); });
                }
            });
            QObject::connect(&form, &frmMain::runEnded, &form, [this, &form] {
                if (!pending_.isEmpty()) take(form, std::exchange(pending_, {}), true);
            }, Qt::QueuedConnection);
            QObject::connect(&form, &frmMain::closing, &form, [this] { stopServing(); });
        }
    }
    if (lock_.isLocked()) lock_.unlock();
}

QString WindowInstance::defaultSocketPath() {
    QString desktop = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (desktop.isEmpty()) desktop = qEnvironmentVariable("DISPLAY");
    if (desktop.isEmpty()) desktop = QGuiApplication::platformName();
    desktop.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime + QStringLiteral("/pellicor-") + desktop;
    return QDir::tempPath() + QStringLiteral("/pellicor-%1-").arg(::getuid()) + desktop;
}

int runWindow(const QStringList& arguments) {
    const std::optional<QStringList> paths = windowPaths(arguments);
    if (!paths) return 2;
    WindowInstance instance;
    if (instance.handOver(*paths)) return 0;
    frmMain form;
    // The window has taken the folder it starts in (and the paths are whole);
    // the process leaves it, so that no drive it was started on is kept busy.
    QDir::setCurrent(QDir::rootPath());
    form.show();
    instance.serve(form);
    if (!paths->isEmpty()) queueFiles(form, *paths);
    return QApplication::exec();
}
