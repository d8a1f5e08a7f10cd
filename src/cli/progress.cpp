#include "progress.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
constexpr int kWidestBar = 30;

void put(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

int terminalColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

QString clockText(double seconds) {
    const qint64 s = static_cast<qint64>(seconds + 0.5);
    if (s >= 3600) return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

Progress::Progress(bool quiet, bool terminal) : quiet_(quiet), terminal_(terminal) {
    clock_.start();
    whole_.start();
}

Progress::~Progress() { stopBar(); }

void Progress::start(qint64 files, qint64 bytes) {
    files_ = files;
    bytes_ = bytes;
    clock_.restart();
    if (quiet_ || !terminal_ || files == 0) return;
    std::unique_lock lock(mutex_);
    draw();
    bar_ = std::thread([this] {
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, kRedrawEvery, [this] { return stopping_; })) draw();
    });
}

void Progress::setTotal(qint64 files, qint64 bytes) {
    const std::lock_guard lock(mutex_);
    files_ = files;
    bytes_ = bytes;
}

void Progress::failure(const QString& line) {
    const std::lock_guard lock(mutex_);
    put((barShown_ ? QByteArray("\r\033[K") : QByteArray()) + line.toLocal8Bit() + '\n');
    barShown_ = false;  // drawn again at the next tick
}

void Progress::fileDone(qint64 bytes) {
    doneBytes_ += bytes;
    ++doneFiles_;
}

void Progress::finish(const RunCounts& counts) {
    stopBar();
    if (quiet_) return;
    put(QStringLiteral("%1 %2, %3 failed, %4 skipped in %5 s\n")
            .arg(counts.converted)
            .arg(counts.planned ? QStringLiteral("to convert") : QStringLiteral("converted"))
            .arg(counts.failed)
            .arg(counts.skipped)
            .arg(whole_.elapsed() / 1000.0, 0, 'f', 1)
            .toLocal8Bit());
}

QString Progress::barLine(qint64 done, qint64 files, qint64 doneBytes, qint64 bytes, double seconds, int columns) {
    const bool measured = done > 0 && seconds > 0;
    const double byteRate = measured ? doneBytes / seconds : 0;
    const QString left = measured && byteRate > 0 ? clockText(static_cast<double>(bytes - doneBytes) / byteRate)
                                                  : QStringLiteral("-:--");
    const QString count = files < 0 ? QStringLiteral("%1 done ").arg(done) : QStringLiteral("%1/%2 ").arg(done).arg(files);
    const QString figures = QStringLiteral(" %1 files/s %2 MB/s")
                                .arg(measured ? done / seconds : 0.0, 0, 'f', 1)
                                .arg(byteRate / 1e6, 0, 'f', 1) +
                            (files < 0 ? QString() : QStringLiteral(" %1 left").arg(left));
    if (files < 0) return (count + figures.trimmed()).left(columns - 1);
    const int room = std::min<int>(kWidestBar, columns - 1 - static_cast<int>(count.size() + figures.size()) - 2);
    if (room < 5) return (count + figures.trimmed()).left(columns - 1);
    const int filled = files > 0 ? static_cast<int>(room * done / files) : 0;
    return count + QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(room - filled, QLatin1Char('-')) +
           QLatin1Char(']') + figures;
}

void Progress::draw() {
    const QString line = barLine(doneFiles_.load(), files_, doneBytes_.load(), bytes_, clock_.elapsed() / 1000.0,
                                 terminalColumns());
    put("\r" + line.toLocal8Bit() + "\033[K");
    barShown_ = true;
}

void Progress::stopBar() {
    if (!bar_.joinable()) return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        if (barShown_) put("\r\033[K");
        barShown_ = false;
    }
    wake_.notify_all();
    bar_.join();
}
