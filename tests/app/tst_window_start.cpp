// Opening files with Pellicor: a later start hands its files and folders to
// the window already open, which queues them as a drop; the start opens a
// window of its own when that window closes or gives no answer.
#include "bmp_writer.h"
#include "frmMain.h"
#include "list_box.h"
#include "run_hooks.h"
#include "test_hooks.h"
#include "window_start.h"

#include <QCheckBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

class WindowStartTest : public QObject {
    Q_OBJECT

private slots:
    void aSecondStartHandsItsFilesToTheWindow();
    void noFilesForAClosingWindowOrAStartThatGaveUp_data();
    void noFilesForAClosingWindowOrAStartThatGaveUp();
    void aStartWithoutAnswerOpensItsOwnWindow();
};

void WindowStartTest::aSecondStartHandsItsFilesToTheWindow() {
    QTemporaryDir dir;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));  // a desktop of this test's own
    for (const char* name : {"f/a.bmp", "f/B.BMP", "f/notes.txt", "f/sub/c.bmp", "x.dib"}) {
        QDir(dir.path()).mkpath(QFileInfo(name).path());
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const std::vector<std::uint8_t> bmp = fixture::encode({}, fixture::photo(20, 10, false));  // the one bitmap that converts
        if (QByteArray(name) == "f/a.bmp") file.write(reinterpret_cast<const char*>(bmp.data()), qint64(bmp.size()));
    }
    frmMain form;
    form.show();
    WindowInstance first;
    QVERIFY(!first.handOver({}));
    first.serve(form);

    // The window answers once it holds the files, so the event loop must run meanwhile.
    QProcess second;
    second.setWorkingDirectory(dir.path());
    second.start(PELLICOR_PROGRAM, {"f", "x.dib"});  // relative to where it was started
    QVERIFY(second.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 10000);
    QCOMPARE(second.exitCode(), 0);
    // The folder gives what Add All would: its bitmaps, by name regardless of case.
    const QStringList expected = {dir.filePath("f/a.bmp"), dir.filePath("f/B.BMP"), dir.filePath("x.dib")};
    QTRY_COMPARE(form.List1->count(), 3);
    for (int i = 0; i < 3; ++i) QCOMPARE(form.List1->List(i), expected[i]);
    QCOMPARE(form.lblStatus->text(), QStringLiteral("3 Added successfully"));

    // Handed over while the run waits for a bitmap's deletion: answered at
    // once, queued after the run, and the run's summary stays.
    std::atomic<int> answered{-1};
    setRemoveHook([&answered](const QString& path) {
        for (QDeadlineTimer guard(15000); answered < 0 && !guard.hasExpired();) QThread::msleep(10);
        return QFile::remove(path) ? 0 : errno;
    });
    setMsgBoxHook([](const QString&, int, const QString&) {});
    form.chkKill->setChecked(true);
    second.start(PELLICOR_PROGRAM, {"f/sub/c.bmp"});
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] { if (second.waitForFinished(0) || second.state() == QProcess::NotRunning) answered = second.exitCode(); });
    poll.start(20);
    form.cmdConvert_Click();
    setRemoveHook({});
    setMsgBoxHook({});
    QCOMPARE(answered.load(), 0);
    QTRY_COMPARE(form.List1->count(), 1);
    QCOMPARE(form.List1->List(0), dir.filePath("f/sub/c.bmp"));
    QCOMPARE(form.lblStatus->text(), QStringLiteral("1 Converted successfully, 2 Failed"));
}

void WindowStartTest::noFilesForAClosingWindowOrAStartThatGaveUp_data() {
    QTest::addColumn<int>("talking");  // when the window closes: 0 not yet, 1 waiting to be let in, 2 let in, 3 so as Exit's key is pressed
    QTest::addColumn<bool>("closes");  // else the start gives up before the window reads it
    QTest::newRow("a start after the close") << 0 << true;
    QTest::newRow("a start waiting to be let in") << 1 << true;
    QTest::newRow("a start let in") << 2 << true;
    QTest::newRow("a start that gave up") << 2 << false;
    QTest::newRow("a start let in as Exit's key is pressed") << 3 << true;
}

void WindowStartTest::noFilesForAClosingWindowOrAStartThatGaveUp() {
    QFETCH(int, talking);
    QFETCH(bool, closes);
    QTemporaryDir dir;
    frmMain form;
    form.show();
    WindowInstance window(dir.filePath("socket"));
    window.serve(form);
    QLocalSocket start;
    const auto send = [&] {
        QDataStream out(&start);
        out.setVersion(QDataStream::Qt_6_4);
        out << QStringList{dir.filePath("a.bmp")};
        start.flush();
    };
    if (talking > 0) start.connectToServer(dir.filePath("socket"));
    if (talking > 1) QTest::qWait(100);  // the window lets it in
    if (talking > 2) form.cmdExit->animateClick();  // as Alt+E does: down a moment, then clicked
    if (talking > 0) send();
    if (closes && talking < 3) form.close();
    if (!closes) start.abort();
    if (talking == 0 && (start.connectToServer(dir.filePath("socket")), start.waitForConnected(1000))) send();
    QTest::qWait(300);
    QCOMPARE(start.bytesAvailable(), 0);  // no answer
    QCOMPARE(form.List1->count(), 0);
}

// A window that is stopped, or hangs, never answers: its answer after the
// start gave up must not count.
void WindowStartTest::aStartWithoutAnswerOpensItsOwnWindow() {
    QTemporaryDir dir;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(dir.filePath("socket")).constData(), sizeof address.sun_path);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(listener, 1) == 0);
    std::atomic<bool> gaveUp{false};
    ssize_t late = 0;
    std::thread window([&] {
        const int peer = ::accept(listener, nullptr, nullptr);
        for (QDeadlineTimer guard(10000); !gaveUp && !guard.hasExpired();) QThread::msleep(10);
        late = ::send(peer, "\1", 1, MSG_NOSIGNAL);
        ::close(peer);
    });
    WindowInstance start(dir.filePath("socket"));
    const bool taken = start.handOver({dir.filePath("a.bmp")});
    gaveUp = true;
    window.join();
    ::close(listener);
    QVERIFY(!taken);
    QCOMPARE(late, -1);
}

QTEST_MAIN(WindowStartTest)
#include "tst_window_start.moc"
