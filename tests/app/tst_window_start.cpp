// Opening files with Pellicor: a later start hands its files and folders to
// the window already open, which queues them as a drop.
#include "frmMain.h"
#include "list_box.h"
#include "window_start.h"

#include <QLabel>
#include <QProcess>
#include <QtTest>

class WindowStartTest : public QObject {
    Q_OBJECT

private slots:
    void aSecondStartHandsItsFilesToTheWindow();
};

void WindowStartTest::aSecondStartHandsItsFilesToTheWindow() {
    QTemporaryDir dir;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));  // a desktop of this test's own
    for (const char* name : {"f/a.bmp", "f/B.BMP", "f/notes.txt", "f/sub/c.bmp", "x.dib"}) {
        QDir(dir.path()).mkpath(QFileInfo(name).path());
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    frmMain form;
    form.show();
    WindowInstance first;
    QVERIFY(!first.handOver({}));
    first.serve(form);

    QProcess second;
    second.setWorkingDirectory(dir.path());
    second.start(PELLICOR_PROGRAM, {"f", "x.dib"});  // relative to where it was started
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 0);
    // The folder gives what Add All would: its bitmaps, by name regardless of case.
    const QStringList expected = {dir.filePath("f/a.bmp"), dir.filePath("f/B.BMP"), dir.filePath("x.dib")};
    QTRY_COMPARE(form.List1->count(), 3);
    for (int i = 0; i < 3; ++i) QCOMPARE(form.List1->List(i), expected[i]);
    QCOMPARE(form.lblStatus->text(), QStringLiteral("3 Added successfully"));
}

QTEST_MAIN(WindowStartTest)
#include "tst_window_start.moc"
