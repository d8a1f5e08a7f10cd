// Times a conversion run driven through the main window's convert command,
// offscreen, over every bitmap of a folder (the JPEGs are written beside them;
// the bitmaps stay, whatever the user's own delete setting), and how often
// the list painted meanwhile (a long list must not stay blank).
//
//   bench_gui_run FOLDER
#include "form_runtime.h"
#include "frmMain.h"
#include "list_box.h"
#include "test_hooks.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QTemporaryDir>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;
    qputenv("PELLICOR_REGISTRY_FILE", QFile::encodeName(settings.filePath("registry.reg")));
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_gui_run FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    QStringList entries;
    for (const QString& name : folder.entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name))
        entries << folder.absoluteFilePath(name);

    int failures = 0;
    setMsgBoxHook([&failures](const QString& prompt, int, const QString&) {
        std::fprintf(stderr, "%s\n", qPrintable(prompt));
        ++failures;
    });
    frmMain form;
    form.show();
    // Paints of the list that show entries, while the run works.
    struct Paints : QObject {
        int shown = 0;
        ListBox* list = nullptr;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint && list->count() > 0 && list->indexAt(QPoint(2, 2)).isValid()) ++shown;
            return false;
        }
    } paints;
    paints.list = form.List1;
    form.chkKill->setChecked(false);
    form.List1->addItems(entries);
    QElapsedTimer timer;
    timer.start();
    form.List1->viewport()->installEventFilter(&paints);
    form.cmdConvert_Click();
    form.List1->viewport()->removeEventFilter(&paints);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    std::printf("%lld files in %.1f ms (%.2f ms a file), %d failed; the list painted its entries %d times\n",
                static_cast<long long>(entries.size()), ms, ms / std::max<qsizetype>(1, entries.size()), failures,
                paints.shown);
    return failures ? 1 : 0;
}
