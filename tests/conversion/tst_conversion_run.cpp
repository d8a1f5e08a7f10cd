// The convert command as a user runs it: queued bitmaps become JPEGs beside
// them, failures come up one box each, nothing is lost, and the status line
// tells the truth.
#include "bmp_writer.h"
#include "fat_stick.h"
#include "form_runtime.h"
#include "frmMain.h"
#include "gui_session.h"
#include "file_list_box.h"
#include "list_box.h"
#include "conversion_run.h"
#include "modPellicor.h"
#include "run_hooks.h"
#include "test_hooks.h"
#include "testing_hooks.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <unistd.h>

namespace {

// The JPEG as a decoder sees it (a null image when there is none).
QImage jpeg(const QString& path) { return QImage(path, "JPEG"); }

}  // namespace

class ConversionRunTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void emptyRun();
    void eachFailureHasItsMessage_data();
    void eachFailureHasItsMessage();
    void qualityIsReadBeforeAnything_data();
    void qualityIsReadBeforeAnything();
    void deleteOptionOnlyAfterACompleteSave();
    void targetsNamedFromTheEntryItself();
    void oneRunNeverWritesATargetTwice_data();
    void oneRunNeverWritesATargetTwice();
    void workAheadStaysWithinItsMemoryBudget();
    void aSaveThatFailedAheadIsTriedAgainInItsTurn();
    void longRunsReportInListOrder();
    void theWindowTakesNoInputDuringARun();
    void aBitmapAnotherRunDeletedIsNoLongerOneOfOurs();
    void aJpegNamedMeanwhileIsKeptWhenAsked();
    void twoSpellingsOnAStickWhoseNamesIgnoreCase();
    void aRunStopsBetweenFiles_data();
    void aRunStopsBetweenFiles();

private:
    QString bitmap(const QString& name, int bits = 24, int width = 40, int height = 30);
    void queue(const QStringList& entries);
    void convert();
    QStringList prompts() const { return session_->prompts(); }

    std::unique_ptr<GuiSession> session_;
    frmMain* form_ = nullptr;
};

void ConversionRunTest::init() {
    session_ = std::make_unique<GuiSession>();
    form_ = &session_->show();
    form_->chkKill->setChecked(false);  // checked by default; the tests say when they want it
}

void ConversionRunTest::cleanup() {
    session_.reset();
    QCOMPARE(mousePointer(), vbDefault);
}

QString ConversionRunTest::bitmap(const QString& name, int bits, int width, int height) {
    fixture::Variant v;
    v.bits = bits;
    if (bits <= 8) v.palette = bits == 1 ? fixture::grayPalette(2) : fixture::colourPalette(1 << bits);
    if (bits == 8 && name.contains(QLatin1String("rle"))) v.compression = BI_RLE8;
    fixture::Picture p = fixture::photo(width, height, bits <= 8);
    for (auto& i : p.indices) i = static_cast<std::uint8_t>(i >> (8 - std::min(bits, 8)));
    const QString path = session_->dir.filePath(name);
    if (!fixture::writeFile(QFile::encodeName(path).toStdString(), fixture::encode(v, p))) qFatal("cannot write %s", qPrintable(path));
    return path;
}

void ConversionRunTest::queue(const QStringList& entries) { form_->List1->addItems(entries); }

void ConversionRunTest::convert() {
    form_->Timer1_Timer();
    if (form_->cmdConvert->isEnabled())
        QTest::mouseClick(form_->cmdConvert, Qt::LeftButton);
    else
        form_->cmdConvert_Click();
}

void ConversionRunTest::emptyRun() {
    convert();
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("0 Converted successfully"));
    QCOMPARE(prompts(), QStringList());
}

void ConversionRunTest::eachFailureHasItsMessage_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("fault");  // a medium failing under the conversion ("read", "write"), or "memory" short
    QTest::addColumn<QString>("prompt");  // %1: the source, %2: the target
    const std::vector<std::uint8_t> bmp = fixture::encode(fixture::Variant{}, fixture::photo(20, 10, false));
    const QByteArray good(reinterpret_cast<const char*>(bmp.data()), int(bmp.size()));
    QByteArray huge = good.left(300);
    huge[21] = 0x40;  // width 2^30
    huge[25] = 0x40;  // height 2^30
    QTest::newRow("not a bitmap") << "notes.bmp" << QByteArray("just some text") << ""
                                  << "Cannot find file %1\nThe file is not a bitmap";
    QTest::newRow("cut short") << "cut.bmp" << good.left(200) << "" << "Cannot load file %1\nThe bitmap is cut short";
    QTest::newRow("too large for a JPEG") << "huge.bmp" << huge << "" << "Not enough memory\n%1 is wider than a JPEG can be";
    QTest::newRow("too large for the machine") << "big.bmp" << good << "memory" << "Not enough memory\n%1 needs 1 MiB";
    QTest::newRow("target is a folder") << "blocked.bmp" << good << "" << "Cannot save file %2\nIs a directory";
    QTest::newRow("read fails part-way") << "flaky.bmp" << good << "read" << "Cannot load file %1\nInput/output error";
    QTest::newRow("disk full") << "full.bmp" << good << "write" << "Cannot save file %2\nNo space left on device";
    QTest::newRow("target would be the source") << "photo.jpg" << good << ""
                                                << "Cannot save file %2\nIt would replace the bitmap itself";
}

void ConversionRunTest::eachFailureHasItsMessage() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, fault);
    QFETCH(QString, prompt);
    const QString source = session_->dir.filePath(name);
    QFile f(source);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    QVERIFY(QDir(session_->dir.path()).mkdir("blocked.jpg"));
    const QStringList before = QDir(session_->dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    form_->chkKill->setChecked(true);  // even so, nothing may be deleted
    queue({source});
    imaging_fail_reads_from(fault == "read" ? 300 : -1);
    imaging_fail_writes_after(fault == "write" ? 100 : -1);
    imaging_set_memory_limit(fault == "memory" ? 100 : 0);
    convert();
    imaging_set_memory_limit(0);
    imaging_fail_reads_from(-1);
    imaging_fail_writes_after(-1);
    const QString expected = QString(prompt).replace("%1", source).replace("%2", baseNameOf(source) + ".jpg");
    QCOMPARE(prompts(), QStringList{expected});
    QCOMPARE(session_->messages[0].title, QStringLiteral("Err encountered!"));
    QCOMPARE(QDir(session_->dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("0 Converted successfully, 1 Failed"));
}

void ConversionRunTest::qualityIsReadBeforeAnything_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("quality");  // as toLong reads it; -1: no number, the run refused
    const QString longText(300, QLatin1Char('x'));
    for (const QString& text : {QStringLiteral("abc"), QString(), QStringLiteral("99999999999"), QStringLiteral("7 5"),
                                QStringLiteral("2147483648"), QStringLiteral("."), longText})
        QTest::newRow(qPrintable("refused: " + text.left(12))) << text << -1;
    // Outside 1..100 the writer clamps; fractions round half to even.
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("150") << "150" << 150;
    QTest::newRow("blanks, sign, .5 down") << " +80.5 " << 80;
    QTest::newRow(".5 up") << "81.5" << 82;
    QTest::newRow("negative fraction") << "-2.51" << -3;
}

void ConversionRunTest::qualityIsReadBeforeAnything() {
    QFETCH(QString, text);
    QFETCH(int, quality);
    QCOMPARE(toLong(text), quality == -1 ? std::nullopt : std::optional<qint32>(quality));
    const QString source = bitmap("q.bmp");
    form_->txtQuality->setText(text);
    queue({source});
    convert();
    QCOMPARE(QFile::exists(session_->dir.filePath("q.jpg")), quality != -1);
    if (quality != -1) {
        QCOMPARE(prompts(), QStringList());
        return;
    }
    // A long text is cut with an ellipsis rather than running off the box.
    const QString shown = text.size() > 40 ? text.left(40) + QChar(0x2026) : text;
    QCOMPARE(prompts(), QStringList{QStringLiteral("Quality is not a number: ") + shown});
    QCOMPARE(form_->List1->count(), 1);  // untouched
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("Ready"));
    QCOMPARE(mousePointer(), vbDefault);
}

void ConversionRunTest::deleteOptionOnlyAfterACompleteSave() {
    form_->chkKill->setChecked(true);
    const QString kept = bitmap("kept.bmp");
    QVERIFY(QDir(session_->dir.path()).mkdir("kept.jpg"));  // its JPEG cannot be written
    const QString gone = bitmap("gone.bmp");
    queue({kept, gone});
    convert();
    QCOMPARE(prompts(), QStringList{QStringLiteral("Cannot save file ") + session_->dir.filePath("kept.jpg") + "\nIs a directory"});
    QVERIFY(QFile::exists(kept));
    QVERIFY(!QFile::exists(gone));
    QCOMPARE(form_->File1->ListCount(), 1);  // the file list shows what is left
    QCOMPARE(jpeg(session_->dir.filePath("gone.jpg")).width(), 40);

    // A source that cannot be deleted is reported; its JPEG stays and the run goes on.
    session_->messages.clear();
    setRemoveHook([](const QString&) { return -1; });
    const QString stuck = bitmap("stuck.bmp");
    const QString next = bitmap("next.bmp");
    queue({stuck, next});
    convert();
    QCOMPARE(prompts(), (QStringList{QStringLiteral("Cannot delete file ") + stuck,
                                     QStringLiteral("Cannot delete file ") + next}));
    QVERIFY(QFile::exists(session_->dir.filePath("stuck.jpg")));
    QVERIFY(QFile::exists(session_->dir.filePath("next.jpg")));
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("2 Converted successfully"));

    // The grayed state counts as checked.
    setRemoveHook({});
    session_->messages.clear();
    form_->chkKill->setTristate(true);
    form_->chkKill->setCheckState(Qt::PartiallyChecked);
    const QString grayed = bitmap("grayed.bmp");
    queue({grayed});
    convert();
    QVERIFY(!QFile::exists(grayed));
}

void ConversionRunTest::targetsNamedFromTheEntryItself() {
    form_->chkKill->setChecked(true);
    const QString upper = bitmap("Holiday.BMP");
    const QString other = bitmap("scan.dib");
    const QString bare = bitmap("noext");
    QVERIFY(QDir(session_->dir.path()).mkdir("album.v2"));
    const QString dotted = bitmap("album.v2/cover");
    queue({upper, other, bare, dotted});
    convert();
    QCOMPARE(prompts(), QStringList());
    for (const char* jpeg : {"Holiday.jpg", "scan.jpg", "noext.jpg", "album.v2/cover.jpg"})
        QVERIFY2(QFile::exists(session_->dir.filePath(QLatin1String(jpeg))), jpeg);
    // Only bitmaps are deleted; whatever else was dropped and converted stays.
    QVERIFY(!QFile::exists(upper));
    for (const QString& source : {other, bare, dotted}) QVERIFY2(QFile::exists(source), qPrintable(source));
}

void ConversionRunTest::oneRunNeverWritesATargetTwice_data() {
    QTest::addColumn<QString>("second");  // after pair.bmp: the same JPEG under another spelling
    QTest::addColumn<bool>("ownFile");  // a bitmap of its own, or pair.bmp again
    QTest::addColumn<QString>("prompt");
    QTest::newRow("letter case") << "pair.BMP" << true << "Cannot save file %1/pair.jpg\nAnother file of this run has just written it";
    QTest::newRow("linked folder") << "link/pair.BMP" << true << "Cannot save file %1/link/pair.jpg\nAnother file of this run has just written it";
    QTest::newRow("the same file through a link") << "link/pair.bmp" << false << "Cannot find file %1/link/pair.bmp\nNo such file or directory";
}

void ConversionRunTest::oneRunNeverWritesATargetTwice() {
    QFETCH(QString, second);
    QFETCH(bool, ownFile);
    QFETCH(QString, prompt);
    QVERIFY(QFile::link(session_->dir.path(), session_->dir.filePath("link")));
    form_->chkKill->setChecked(true);
    const QString first = bitmap("pair.bmp", 24, 40, 30);
    // The second takes longer, so work started for it would finish last.
    if (ownFile) bitmap(QFileInfo(second).fileName(), 24, 1600, 1200);
    queue({first, session_->dir.filePath(second)});
    convert();
    QThreadPool::globalInstance()->waitForDone();  // work that outlived the run would show now
    QCOMPARE(prompts(), QStringList{prompt.arg(session_->dir.path())});
    QCOMPARE(jpeg(session_->dir.filePath("pair.jpg")).width(), 40);  // the first one's picture
    QVERIFY(!QFile::exists(first));
    QCOMPARE(QFile::exists(session_->dir.filePath(second)), ownFile);  // its picture is still there
    QCOMPARE(QDir(session_->dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".tmp"), QStringList());
    if (second != "pair.BMP") return;

    // A JPEG from before the run is replaced without asking; with the option off the bitmap stays.
    session_->messages.clear();
    form_->chkKill->setChecked(false);
    queue({session_->dir.filePath(second)});
    convert();
    QCOMPARE(prompts(), QStringList());
    QCOMPARE(jpeg(session_->dir.filePath("pair.jpg")).width(), 1600);
    QVERIFY(QFile::exists(session_->dir.filePath(second)));
    form_->chkKill->setChecked(true);

    // When the first of a pair fails, the second may still write the JPEG.
    session_->messages.clear();
    QFile broken(session_->dir.filePath("twin.bmp"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("not a picture");
    broken.close();
    queue({broken.fileName(), bitmap("twin.dib")});
    convert();
    QCOMPARE(prompts(), QStringList{QStringLiteral("Cannot find file ") + broken.fileName() + "\nThe file is not a bitmap"});
    QVERIFY(QFile::exists(session_->dir.filePath("twin.jpg")));
}

void ConversionRunTest::workAheadStaysWithinItsMemoryBudget() {
    QList<RunEntry> entries;
    for (int i = 0; i < 6; ++i) {
        const QString source = bitmap(QStringLiteral("mem%1.bmp").arg(i), 24, 100, 100);
        entries.append({source, jpegNameOf(source)});
    }
    const std::size_t one = conversionBytes(entries[0].source);
    QCOMPARE(one, std::size_t{300 * 100});
    // Two images' worth, and less than one: never more, and always one at least.
    for (const std::size_t budget : {2 * one + 10, std::size_t{1}}) {
        ConversionRun run(entries, RunSettings{75, false, true, 6, budget});
        for (int k = 0; k < run.size(); ++k) QVERIFY(run.next().result().converted);
        QCOMPARE(run.peakBytes(), budget > one ? 2 * one : one);
    }
    for (const RunEntry& e : entries) QCOMPARE(jpeg(e.target).width(), 100);
}

void ConversionRunTest::aSaveThatFailedAheadIsTriedAgainInItsTurn() {
    // The disk is full while the work ahead saves; the first entry's failure
    // frees the room (as deleting a converted bitmap would).
    const QString first = session_->dir.filePath("first.bmp");
    const QStringList later = {bitmap("second.bmp"), bitmap("third.bmp")};
    setMsgBoxHook([this](const QString& prompt, int style, const QString& title) {
        session_->messages.append({prompt, style, title, mousePointer()});
        QThreadPool::globalInstance()->waitForDone();
        imaging_fail_writes_after(-1);
    });
    queue(QStringList{first} + later);
    imaging_fail_writes_after(0);
    convert();
    imaging_fail_writes_after(-1);
    QCOMPARE(prompts().size(), 1);
    for (const QString& source : later) QCOMPARE(jpeg(baseNameOf(source) + ".jpg").width(), 40);
}

void ConversionRunTest::longRunsReportInListOrder() {
    // Later files are converted while earlier ones are reported: the user
    // must still see everything in list order. Every depth goes through the
    // program's load sequence, and black and white stays gray.
    const int depths[] = {1, 4, 8, 16, 24, 32};
    QStringList entries, expected, written;
    for (int i = 0; i < 14; ++i) {
        if (i % 4 == 1) {
            entries << session_->dir.filePath(QStringLiteral("gap%1.bmp").arg(i));
            expected << QStringLiteral("Cannot find file ") + entries.back() + "\nNo such file or directory";
        } else {
            entries << bitmap(QString(i == 2 ? "rle%1.bmp" : "run%1.bmp").arg(i), depths[i % 6], 50 + i, 20);
            written << entries.back();
        }
    }
    form_->chkKill->setChecked(true);
    flushFileByFile(true);  // the way of a lone file, for every one
    queue(entries);
    convert();
    QCOMPARE(prompts(), expected);
    QCOMPARE(session_->messages[0].style, vbExclamation);
    QCOMPARE(session_->messages[0].title, QStringLiteral("Err encountered!"));
    QCOMPARE(session_->messages[0].pointer, vbHourglass);  // the run was under way
    QCOMPARE(form_->List1->count(), 0);
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("10 Converted successfully, 4 Failed"));
    for (const QString& source : written) {
        QVERIFY(!QFile::exists(source));
        const int i = QFileInfo(source).completeBaseName().mid(3).toInt();
        const QImage picture = jpeg(baseNameOf(source) + ".jpg");
        QCOMPARE(picture.size(), QSize(50 + i, 20));
        QCOMPARE(picture.format() == QImage::Format_Grayscale8, depths[i % 6] == 1);
    }
}

// Input made while the run works goes, and nothing of it is carried out
// after the run; the bar shows the files done. (That the window repaints
// meanwhile, e2e-desktop shows on screenshots.)
void ConversionRunTest::theWindowTakesNoInputDuringARun() {
    QStringList entries;
    for (int i = 0; i < 6; ++i) entries << bitmap(QStringLiteral("run%1.bmp").arg(i));
    queue(entries);
    QList<int> progress;  // files done, as the bar showed them at each entry's box
    form_->chkKill->setChecked(true);
    setRemoveHook([](const QString&) { return -1; });
    setMsgBoxHook([&](const QString&, int, const QString&) {
        if (form_->prgRun->isVisible() && form_->prgRun->maximum() == 6) progress << form_->prgRun->value();
    });
    // A click on Add All and a key press made while the run works.
    QTimer::singleShot(0, form_, [this] {
        QTest::mouseClick(form_->cmdAddAll, Qt::LeftButton);
        QTest::keyClick(form_->txtQuality, Qt::Key_9);
    });
    form_->cmdConvert_Click();
    QCoreApplication::processEvents();
    // A key held over from the run reaches nothing after it (File1 would queue its file).
    form_->File1->setCurrentRow(0);
    form_->File1->setFocus();
    QKeyEvent held(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QCoreApplication::sendEvent(form_->windowHandle(), &held);
    QCOMPARE(form_->List1->count(), 0);
    QCOMPARE(form_->txtQuality->text(), QStringLiteral("75"));
    QCOMPARE(progress, (QList<int>{0, 1, 2, 3, 4, 5}));
    QVERIFY(!form_->prgRun->isVisible());
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("6 Converted successfully"));
}

// Another run on the same tree converts x.bmp meanwhile, and the JPEG it
// names takes the number that was x.bmp's (here a link keeps it for sure).
void ConversionRunTest::aBitmapAnotherRunDeletedIsNoLongerOneOfOurs() {
    const QString x = bitmap("x.bmp"), y = bitmap("y.bmp", 24, 20, 10);
    const QList<RunEntry> entries{{x, jpegNameOf(x)}, {y, jpegNameOf(y)}};
    ConversionRun run(entries, RunSettings{75, true, false});
    QVERIFY(::link(QFile::encodeName(x).constData(), QFile::encodeName(jpegNameOf(y)).constData()) == 0);
    QVERIFY(QFile::remove(x));
    QCOMPARE(run.next().result().failure, "Cannot find file " + x + "\nNo such file or directory");
    QCOMPARE(run.next().result().failure,
             "Cannot save file " + jpegNameOf(y) + "\nA file of that name is there already, and a run that deletes bitmaps replaces none");
    QVERIFY(QFile::exists(y));
}

// Another program names the JPEG after the run has begun: with keepExisting theirs stays, and the entry is skipped.
void ConversionRunTest::aJpegNamedMeanwhileIsKeptWhenAsked() {
    const QString x = bitmap("x.bmp");
    RunSettings settings{75, false, false};
    settings.keepExisting = true;
    ConversionRun run({{x, jpegNameOf(x)}}, settings);
    QVERIFY(QFile::copy(x, jpegNameOf(x)));
    const EntryReport report = run.next().result();
    QVERIFY(report.skipped && !report.converted && report.failure.isEmpty());
    QCOMPARE(QFileInfo(jpegNameOf(x)).size(), QFileInfo(x).size());  // still theirs
}

// A FAT stick through FUSE gives each spelling an inode number of its own.
void ConversionRunTest::twoSpellingsOnAStickWhoseNamesIgnoreCase() {
    const support::FatStick stick;
    if (!stick.mounted()) QSKIP(qPrintable(stick.whyNot()));
    const QString source = stick.path() + "/scan.bmp";
    QVERIFY(QFile::copy(bitmap("scan.bmp"), source));
    queue({source, stick.path() + "/SCAN.BMP"});
    convert();
    QCOMPARE(prompts(), QStringList{"Cannot save file " + stick.path() + "/SCAN.jpg\nAnother file of this run has just written it"});
    QCOMPARE(QDir(stick.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"scan.bmp", "scan.jpg"}));
}

void ConversionRunTest::aRunStopsBetweenFiles_data() {
    QTest::addColumn<QString>("how");  // what the user does at the first failure's box; "full": every save finds no room
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("status");
    const QString stopped = QStringLiteral("0 Converted successfully, 1 Failed, stopped; 3 left");
    QTest::newRow("Escape, Yes") << "Escape" << vbYes << stopped;
    QTest::newRow("Escape, No") << "Escape" << vbNo << "3 Converted successfully, 1 Failed";
    QTest::newRow("close box") << "close" << vbYes << stopped;
    QTest::newRow("Exit") << "Exit" << vbYes << stopped;
    QTest::newRow("disk full: stop") << "full" << vbYes << stopped;
    QTest::newRow("disk full: go on") << "full" << vbNo << "0 Converted successfully, 4 Failed";
}

void ConversionRunTest::aRunStopsBetweenFiles() {
    QFETCH(QString, how);
    QFETCH(int, answer);
    QFETCH(QString, status);
    QStringList entries{how == "full" ? bitmap("a.bmp") : session_->touch("a.bmp", "no bitmap")};
    for (const char* name : {"b.bmp", "c.bmp", "d.bmp"}) entries << bitmap(name);
    queue(entries);
    int openThere = 0;
    bool idle = true;  // the buttons that do nothing during a run look it
    setMsgBoxAnswer([answer](const QString&, int) { return answer; });
    setMsgBoxHook([&](const QString& prompt, int style, const QString& title) {
        session_->messages.append({prompt, style, title, 0});
        if (session_->messages.size() > 1) return;
        QThread::msleep(100);  // time for the work ahead to have opened its files, were it still going
        for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::System))
            openThere += fd.symLinkTarget().startsWith(session_->dir.path());
        idle = !form_->cmdConvert->isEnabled() && !form_->cmdAddAll->isEnabled() && form_->cmdExit->isEnabled();
        if (how == "Escape") QTest::keyClick(form_->List1, Qt::Key_Escape);
        if (how == "close") form_->close();
        if (how == "Exit") QTest::mouseClick(form_->cmdExit, Qt::LeftButton);
        QCoreApplication::processEvents();
    });
    imaging_fail_writes_after(how == "full" ? 100 : -1);
    convert();
    imaging_fail_writes_after(-1);
    setMsgBoxAnswer({});
    QCOMPARE(form_->lblStatus->text(), status);
    QCOMPARE(openThere, 0);
    QVERIFY(idle && form_->isVisible() && form_->cmdConvert->isEnabled() == status.contains("left"));
    QCOMPARE(form_->List1->count(), status.contains("left") ? 3 : 0);
    const QString question = how == "full" ? session_->messages[0].prompt.section('\n', -1) : session_->messages[1].prompt;
    QCOMPARE(question, how == "full" ? "Stop converting?" : "Stop converting after this file?");
    for (const QString& bmp : entries.mid(1)) QCOMPARE(QFile::exists(jpegNameOf(bmp)), status.startsWith('3'));
    QCOMPARE(QDir(session_->dir.path()).entryList(QDir::Hidden | QDir::Files).filter(".jpg").size(), status.startsWith('3') ? 3 : 0);
}

QTEST_MAIN(ConversionRunTest)
#include "tst_conversion_run.moc"
