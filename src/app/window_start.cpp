#include "window_start.h"

#include "frmMain.h"
#include "image_conversion.h"

#include <QApplication>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>
#include <cstdio>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kWaitMs = 3000;

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
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.isDir()) {
            files << QUrl::fromLocalFile(info.absoluteFilePath());
            continue;
        }
        const QString folder = info.absoluteFilePath();
        // The file list's own query, as Add All takes it.
        for (const QString& name : QDir(folder).entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name | QDir::IgnoreCase))
            files << QUrl::fromLocalFile(joinPath(folder, name));
    }
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
    // The window answers once it holds the paths (a window busy converting
    // reads them when its run ends). One that closes before has not taken
    // them: this start then opens a window of its own, and nothing is lost.
    while (peer.bytesToWrite() > 0 && peer.state() == QLocalSocket::ConnectedState) peer.waitForBytesWritten(-1);
    while (peer.bytesAvailable() == 0 && peer.state() == QLocalSocket::ConnectedState) peer.waitForReadyRead(-1);
    const bool taken = peer.bytesAvailable() > 0;
    peer.disconnectFromServer();
    if (!taken) anotherServes_ = false;
    return taken;
}

void WindowInstance::take(frmMain& form, const QStringList& paths) {
    // Files handed over during a run (its message boxes let the socket be
    // read) are queued after it, never swept into the run.
    if (form.isConverting()) {
        pending_ << paths;
        return;
    }
    queueFiles(form, paths);
    form.setWindowState(form.windowState() & ~Qt::WindowMinimized);
    form.raise();
    form.activateWindow();
}

void WindowInstance::serve(frmMain& form) {
    if (!anotherServes_) {
        QLocalServer::removeServer(path_);  // left behind by a window that died
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        if (server_.listen(path_)) {
            QObject::connect(&server_, &QLocalServer::newConnection, &form, [this, &form] {
                while (QLocalSocket* peer = server_.nextPendingConnection()) {
                    QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
                    QObject::connect(peer, &QLocalSocket::readyRead, &form, [this, peer, &form] {
                        QDataStream in(peer);
                        in.setVersion(QDataStream::Qt_6_4);
                        in.startTransaction();
                        QStringList paths;
                        in >> paths;
                        if (!in.commitTransaction()) return;  // more to come
                        take(form, paths);
                        peer->write("\1", 1);
                        peer->flush();
                    });
                }
            });
            QObject::connect(&form, &frmMain::runEnded, &form, [this, &form] {
                if (!pending_.isEmpty()) take(form, std::exchange(pending_, {}));
            }, Qt::QueuedConnection);
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
