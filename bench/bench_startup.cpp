// Start-up to the first painted window, with a folder of 10,000 bitmaps as
// the stored folder (offscreen). Prints the time from main() to the paint.
//
//   bench_startup [FOLDER]   (default: a new temporary folder)
#include "Registry.h"
#include "file_list_box.h"
#include "frmMain.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// Stops the clock at the window's first paint.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(const QElapsedTimer& clock) : clock_(clock) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && ms_ < 0) {
            ms_ = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }
    double ms() const { return ms_; }

private:
    const QElapsedTimer& clock_;
    double ms_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    QElapsedTimer clock;
    clock.start();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.filePath("bitmaps");
    QDir().mkpath(folder);
    for (int i = 0; i < 10000; ++i) {
        QFile f(QStringLiteral("%1/photo%2.bmp").arg(folder).arg(i, 5, 10, QLatin1Char('0')));
        if (!f.exists() && !f.open(QIODevice::WriteOnly)) return 1;
    }
    qputenv("PELLICOR_REGISTRY_FILE", QFile::encodeName(temporary.filePath("registry.reg")));
    WriteStringValue(HKEY_CURRENT_USER, QStringLiteral("Software\\Corvane\\Pellicor\\Main"), QStringLiteral("FilePath"), folder);
    const double prepared = static_cast<double>(clock.nsecsElapsed()) / 1e6;

    clock.restart();
    QApplication app(argc, argv);
    frmMain form;
    FirstPaint paint(clock);
    form.installEventFilter(&paint);
    form.show();
    app.exec();
    std::printf("first paint %.1f ms after start-up began (%d bitmaps listed; preparing took %.1f ms)\n", paint.ms(),
                form.File1->ListCount(), prepared);
    return 0;
}
