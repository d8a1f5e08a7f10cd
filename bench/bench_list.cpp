// List operations on a folder of 10,000 bitmaps, offscreen: showing the
// folder in the file list, Add All, and a drop of 10,000 paths.
//
//   bench_list [FOLDER]   (default: a new temporary folder)
#include "dir_list_box.h"
#include "file_list_box.h"
#include "frmMain.h"
#include "list_box.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdio>

namespace {

constexpr int kFiles = 10000;

double msSince(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir temporary;
    qputenv("PELLICOR_REGISTRY_FILE", QFile::encodeName(temporary.filePath("registry.reg")));
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    QDir().mkpath(folder);
    for (int i = 0; i < kFiles; ++i) {
        QFile f(QStringLiteral("%1/photo%2.bmp").arg(folder).arg(i, 5, 10, QLatin1Char('0')));
        if (!f.exists() && !f.open(QIODevice::WriteOnly)) return 1;
    }

    frmMain form;
    form.show();
    QApplication::processEvents();

    QElapsedTimer t;
    t.start();
    form.Dir1->setPath(folder);
    form.repaint();
    std::printf("show a folder of %d bitmaps: %.1f ms (%d listed)\n", kFiles, msSince(t), form.File1->ListCount());

    t.restart();
    form.cmdAddAll_Click();
    form.repaint();
    std::printf("Add All: %.1f ms (%d queued)\n", msSince(t), form.List1->ListCount());

    form.List1->clear();
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (int i = 0; i < kFiles; ++i) urls << QUrl::fromLocalFile(QStringLiteral("/dropped/%1.bmp").arg(i));
    data->setUrls(urls);
    t.restart();
    const QPoint at = form.List1->viewport()->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.List1->viewport(), &enter);
    QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.List1->viewport(), &drop);
    form.repaint();
    std::printf("drop of %d paths: %.1f ms (%d queued)\n", kFiles, msSince(t), form.List1->ListCount());
    delete data;
    return 0;
}
