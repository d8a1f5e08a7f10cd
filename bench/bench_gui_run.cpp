// Times a conversion run driven through the main window's convert command,
// offscreen, over every bitmap of a folder (the JPEGs are written beside them;
// the bitmaps stay, whatever the user's own delete setting).
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
    form.chkKill->setChecked(false);
    form.List1->addItems(entries);
    QElapsedTimer timer;
    timer.start();
    form.cmdConvert_Click();
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    std::printf("%lld files in %.1f ms (%.2f ms a file), %d failed\n", static_cast<long long>(entries.size()), ms,
                ms / std::max<qsizetype>(1, entries.size()), failures);
    return failures ? 1 : 0;
}
