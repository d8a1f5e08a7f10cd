// Opening files with Pellicor: a later start hands its files and folders to
// the window already open, which queues them as a drop.
#include "test_hooks.h"
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

    // The window answers once it holds the files, so the event loop must run meanwhile.
    const auto handOver = [&dir](const QStringList& arguments) {
        QProcess second;
        second.setWorkingDirectory(dir.path());
        second.start(PELLICOR_PROGRAM, arguments);
        for (int waited = 0; second.state() != QProcess::NotRunning && waited < 10000; waited += 20) QTest::qWait(20);
        return second.state() == QProcess::NotRunning ? second.exitCode() : -1;
    };
    QCOMPARE(handOver({"f", "x.dib"}), 0);  // relative to where it was started
    // The folder gives what Add All would: its bitmaps, by name regardless of case.
    const QStringList expected = {dir.filePath("f/a.bmp"), dir.filePath("f/B.BMP"), dir.filePath("x.dib")};
    QTRY_COMPARE(form.List1->count(), 3);
    for (int i = 0; i < 3; ++i) QCOMPARE(form.List1->List(i), expected[i]);
    QCOMPARE(form.lblStatus->text(), QStringLiteral("3 Added successfully"));

    // Handed over while a run's message box is up: queued after the run, not converted by it.
    QStringList boxes;
    setMsgBoxHook([&](const QString& prompt, int, const QString&) {
        if (boxes.isEmpty()) QCOMPARE(handOver({"f/sub/c.bmp"}), 0);
        boxes << prompt;
    });
    form.cmdConvert_Click();
    setMsgBoxHook({});
    QCOMPARE(boxes.size(), 3);  // none of these empty files is a bitmap
    QTRY_COMPARE(form.List1->count(), 1);
    QCOMPARE(form.List1->List(0), dir.filePath("f/sub/c.bmp"));
}

QTEST_MAIN(WindowStartTest)
#include "tst_window_start.moc"
