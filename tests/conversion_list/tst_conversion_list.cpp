// Queuing and removing files: the messages in the order the user sees them,
// drops from the file manager, the entries' tooltip, and one whole session.
#include "bmp_writer.h"
#include "dir_list_box.h"
#include "drives.h"
#include "file_list_box.h"
#include "form_runtime.h"
#include "frmAbout.h"
#include "frmMain.h"
#include "list_box.h"
#include "modPellicor.h"

#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolTip>
#include <QtTest>
#include <memory>

class ConversionListTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void addAllTwice();
    void addAllSkipsWhatIsQueued();
    void doubleClickOnAFile();
    void letterCaseFollowsTheFileSystem();
    void removeSelectedAndDoubleClickedEntries();
    void dropsOfFileLists_data();
    void dropsOfFileLists();
    void whatIsNotAFileListIsIgnored();
    void entriesDragOutAsText();
    void noLimitOnTheNumberOfEntries();
    void tooltipShowsTheEntryUnderThePointer();
    void browseQueueRemoveConvert();
    void keysDoWhatTheMouseDoes();

private:
    QString file(const QString& name) const { return dir_->filePath(name); }
    QStringList entries() const;
    void drop(QMimeData* data);
    QStringList statuses() const;

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<frmMain> form_;
    std::unique_ptr<QSignalSpy> status_;
};

void ConversionListTest::init() {
    QFile::remove(qEnvironmentVariable("PELLICOR_REGISTRY_FILE"));
    dir_ = std::make_unique<QTemporaryDir>();
    for (const char* name : {"a.bmp", "B.bmp", "c.bmp"}) {
        QFile f(file(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QDir::setCurrent(dir_->path());
    setMsgBoxHook([](const QString& prompt, int, const QString&) { QFAIL(qPrintable(prompt)); });
    form_ = std::make_unique<frmMain>();
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    status_ = std::make_unique<QSignalSpy>(form_.get(), &frmMain::statusWritten);
}

void ConversionListTest::cleanup() {
    status_.reset();
    form_.reset();
    QDir::setCurrent(QDir::tempPath());
    setMsgBoxHook({});
    setCaseRule({});
}

QStringList ConversionListTest::entries() const {
    QStringList out;
    for (int i = 0; i < form_->List1->ListCount(); ++i) out << form_->List1->List(i);
    return out;
}

QStringList ConversionListTest::statuses() const {
    QStringList out;
    for (const QList<QVariant>& call : *status_) out << call.at(0).toString();
    return out;
}

void ConversionListTest::drop(QMimeData* data) {
    QWidget* target = form_->List1->viewport();
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent dropped(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
    delete data;
}

void ConversionListTest::addAllTwice() {
    QCOMPARE(sFilePath, dir_->path());
    QTest::mouseClick(form_->cmdAddAll, Qt::LeftButton);
    QCOMPARE(entries(), (QStringList{file("a.bmp"), file("B.bmp"), file("c.bmp")}));
    // The first file enters the empty list without a word.
    QCOMPARE(statuses(), (QStringList{"2 Added successfully", "3 Added successfully"}));
    status_->clear();
    QTest::mouseClick(form_->cmdAddAll, Qt::LeftButton);
    QCOMPARE(form_->List1->ListCount(), 3);
    QCOMPARE(statuses(), QStringList(3, "3 Duplicate No Added"));
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("3 Duplicate No Added"));
}

void ConversionListTest::addAllSkipsWhatIsQueued() {
    form_->File1->setListIndex(1);
    form_->File1_DblClick();
    QTest::mouseClick(form_->cmdAddAll, Qt::LeftButton);
    QCOMPARE(entries(), (QStringList{file("B.bmp"), file("a.bmp"), file("c.bmp")}));
    QCOMPARE(statuses(), (QStringList{"2 Added successfully", "2 Duplicate No Added", "3 Added successfully"}));
}

void ConversionListTest::doubleClickOnAFile() {
    const QRect second = form_->File1->visualItemRect(form_->File1->item(1));
    QTest::mouseDClick(form_->File1->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(entries(), QStringList{file("B.bmp")});
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("Ready"));  // the first entry writes nothing
    QTest::mouseDClick(form_->File1->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("1 Duplicate No Added"));

    // Below the entries nothing is added, though an entry is current.
    form_->File1->setCurrentRow(2);
    QTest::mouseDClick(form_->File1->viewport(), Qt::LeftButton, {}, second.center() + QPoint(0, 3 * second.height()));
    QCOMPARE(entries(), QStringList{file("B.bmp")});
}

void ConversionListTest::letterCaseFollowsTheFileSystem() {
    // Here names are case-sensitive: "B.bmp" is kept as it is, and "b.bmp" is another file.
    QTest::mouseClick(form_->cmdAddAll, Qt::LeftButton);
    QVERIFY(entries().contains(file("B.bmp")));
    form_->List1->clear();
    form_->List1->AddItem(file("B.bmp"));
    drop([this] {
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(file("b.bmp"))});
        return data;
    }());
    QCOMPARE(entries(), (QStringList{file("B.bmp"), file("b.bmp")}));

    // Where the file system ignores case, entries are lower-cased and compared so.
    setCaseRule([](const QString&) { return true; });
    form_->List1->clear();
    status_->clear();
    QTest::mouseClick(form_->cmdAddAll, Qt::LeftButton);
    QCOMPARE(entries(), (QStringList{file("a.bmp").toLower(), file("b.bmp").toLower(), file("c.bmp").toLower()}));
    drop([this] {
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(file("A.BMP"))});
        return data;
    }());
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("3 Duplicate No Added"));
}

void ConversionListTest::removeSelectedAndDoubleClickedEntries() {
    for (const char* name : {"/p/0.bmp", "/p/1.bmp", "/p/2.bmp", "/p/3.bmp"}) form_->List1->AddItem(name);
    form_->cmdRemoveAll_Click();  // nothing selected: nothing happens
    QCOMPARE(form_->List1->ListCount(), 4);
    QCOMPARE(statuses(), QStringList());

    form_->List1->item(0)->setSelected(true);
    form_->List1->item(2)->setSelected(true);
    form_->Timer1_Timer();
    QTest::mouseClick(form_->cmdRemoveAll, Qt::LeftButton);
    QCOMPARE(entries(), (QStringList{"/p/1.bmp", "/p/3.bmp"}));
    QCOMPARE(statuses(), (QStringList{"3 Available After Removing", "2 Available After Removing"}));

    status_->clear();
    const QRect last = form_->List1->visualItemRect(form_->List1->item(1));
    QTest::mouseDClick(form_->List1->viewport(), Qt::LeftButton, {}, last.center());
    QCOMPARE(entries(), QStringList{"/p/1.bmp"});
    QCOMPARE(statuses(), QStringList{"1 Available After Removing"});

    // Below the entries a double-click removes nothing, though an entry is current.
    form_->List1->setCurrentRow(0);
    QTest::mouseDClick(form_->List1->viewport(), Qt::LeftButton, {}, last.center());
    QCOMPARE(entries(), QStringList{"/p/1.bmp"});
}

void ConversionListTest::dropsOfFileLists_data() {
    QTest::addColumn<QStringList>("queued");
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("status");
    const QStringList five = {"/q/1.bmp", "/q/2.bmp", "/q/3.bmp", "/q/4.bmp", "/q/5.bmp"};
    QTest::newRow("three new files onto an empty list")
        << QStringList() << QStringList{"/d/x.bmp", "/d/notes.txt", "/d/Folder"}
        << QStringList{"/d/x.bmp", "/d/notes.txt", "/d/Folder"} << "3 Added successfully";
    QTest::newRow("one file onto an empty list") << QStringList() << QStringList{"/d/one.bmp"}
                                                 << QStringList{"/d/one.bmp"} << "1 Added successfully";
    QTest::newRow("duplicates onto a list of five") << five << QStringList{"/q/2.bmp", "/q/5.bmp"} << five
                                                    << "5 Duplicate No Added";
}

void ConversionListTest::dropsOfFileLists() {
    QFETCH(QStringList, queued);
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, expected);
    QFETCH(QString, status);
    for (const QString& entry : queued) form_->List1->AddItem(entry);
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& path : dropped) urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    drop(data);
    QCOMPARE(entries(), expected);
    QCOMPARE(form_->lblStatus->text(), status);
    QCOMPARE(statuses().value(0), QString::number(dropped.size()) + " Added successfully");  // written first
}

void ConversionListTest::whatIsNotAFileListIsIgnored() {
    auto* text = new QMimeData;
    text->setText(QStringLiteral("/d/looks-like-a-path.bmp"));
    drop(text);
    auto* remote = new QMimeData;
    remote->setUrls({QUrl(QStringLiteral("https://example.org/picture.bmp"))});
    drop(remote);
    QCOMPARE(form_->List1->ListCount(), 0);
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("Ready"));

    // In a mixed drop only the local files count.
    auto* mixed = new QMimeData;
    mixed->setUrls({QUrl(QStringLiteral("https://example.org/a.bmp")), QUrl::fromLocalFile("/d/b.bmp")});
    drop(mixed);
    QCOMPARE(entries(), QStringList{"/d/b.bmp"});
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("1 Added successfully"));
}

void ConversionListTest::entriesDragOutAsText() {
    for (const char* name : {"/p/one.bmp", "/p/two.bmp"}) form_->List1->AddItem(name);
    form_->List1->selectAll();
    QVERIFY(form_->List1->dragEnabled());
    const std::unique_ptr<QMimeData> data(form_->List1->selectionData());
    QCOMPARE(data->text(), QStringLiteral("/p/one.bmp\n/p/two.bmp"));
    QVERIFY(!data->hasUrls());  // dropped back onto the list, it queues nothing
}

void ConversionListTest::noLimitOnTheNumberOfEntries() {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (int i = 0; i < 40000; ++i) urls << QUrl::fromLocalFile(QStringLiteral("/many/%1.bmp").arg(i));
    data->setUrls(urls);
    drop(data);
    QCOMPARE(form_->List1->ListCount(), 40000);
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("40000 Added successfully"));
    QCOMPARE(form_->List1->List(39999), QStringLiteral("/many/39999.bmp"));
}

void ConversionListTest::tooltipShowsTheEntryUnderThePointer() {
    for (int i = 0; i < 60; ++i) form_->List1->AddItem(QStringLiteral("/a/rather/long/folder/name/picture%1.bmp").arg(i));
    auto moveTo = [this](double y) {
        QMouseEvent move(QEvent::MouseMove, QPointF(10, y), form_->List1->viewport()->mapToGlobal(QPointF(10, y)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(form_->List1->viewport(), &move);
    };
    const int row = QFontMetrics(form_->List1->font()).height();
    form_->List1->scrollToItem(form_->List1->item(10), QAbstractItemView::PositionAtTop);
    QCOMPARE(form_->List1->TopIndex(), 10);
    moveTo(2.5 * row);  // the third visible row
    QCOMPARE(form_->List1->ToolTipText(), form_->List1->List(12));
    QCOMPARE(form_->List1->visualItemRect(form_->List1->item(12)).contains(QPoint(10, int(2.5 * row))), true);

    QHelpEvent help(QEvent::ToolTip, QPoint(10, int(2.5 * row)), form_->List1->viewport()->mapToGlobal(QPoint(10, int(2.5 * row))));
    QApplication::sendEvent(form_->List1->viewport(), &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), form_->List1->List(12));

    moveTo(-3.0 * row);  // above the list while the mouse is captured
    QCOMPARE(form_->List1->ToolTipText(), QString());
    form_->List1->scrollToItem(form_->List1->item(59), QAbstractItemView::PositionAtBottom);
    const QRect last = form_->List1->visualItemRect(form_->List1->item(59));
    moveTo(last.bottom());
    QCOMPARE(form_->List1->ToolTipText(), form_->List1->List(59));
    moveTo(last.bottom() + 1 + row / 2);  // below the last entry
    QCOMPARE(form_->List1->ToolTipText(), QString());
    form_->List1->clear();
    moveTo(5);  // over an empty list
    QCOMPARE(form_->List1->ToolTipText(), QString());
}

void ConversionListTest::browseQueueRemoveConvert() {
    // A folder of real bitmaps, chosen in the folder list.
    QVERIFY(QDir(dir_->path()).mkdir("Holiday"));
    for (const char* name : {"Beach.bmp", "Boat.bmp", "Sunset.bmp"}) {
        fixture::Variant v;
        fixture::writeFile(QFile::encodeName(file(QStringLiteral("Holiday/") + name)).toStdString(),
                           fixture::encode(v, fixture::photo(32, 24, false)));
    }
    form_->Dir1->Refresh();
    QListWidgetItem* holiday = form_->Dir1->findItems(QStringLiteral("Holiday"), Qt::MatchEndsWith).value(0);
    QVERIFY(holiday);
    QTest::mouseDClick(form_->Dir1->viewport(), Qt::LeftButton, {}, form_->Dir1->visualItemRect(holiday).center());
    QCOMPARE(form_->File1->ListCount(), 3);

    QTRY_VERIFY(form_->cmdAddAll->isEnabled());
    QTest::mouseClick(form_->cmdAddAll, Qt::LeftButton);
    const QRect boat = form_->List1->visualItemRect(form_->List1->item(1));
    QTest::mouseDClick(form_->List1->viewport(), Qt::LeftButton, {}, boat.center());
    QCOMPARE(form_->List1->ListCount(), 2);
    QTRY_VERIFY(form_->cmdConvert->isEnabled());
    QTest::mouseClick(form_->cmdConvert, Qt::LeftButton);

    QCOMPARE(form_->lblStatus->text(), QStringLiteral("2 Converted successfully"));
    QVERIFY(QFile::exists(file("Holiday/Beach.jpg")));
    QVERIFY(QFile::exists(file("Holiday/Sunset.jpg")));
    QVERIFY(!QFile::exists(file("Holiday/Boat.jpg")));
    // "Delete BMP" is on at the first start: only the bitmap left out remains, and JPEGs are not listed.
    QCOMPARE(form_->File1->ListCount(), 1);
    QCOMPARE(form_->File1->List(0), QStringLiteral("Boat.bmp"));
}

void ConversionListTest::keysDoWhatTheMouseDoes() {
    // Space and Enter (the keypad's too) on a file queue it, as a double-click does.
    form_->File1->setCurrentRow(0);
    QTest::keyClick(form_->File1, Qt::Key_Space);
    form_->File1->setCurrentRow(1);
    QTest::keyClick(form_->File1, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(entries(), (QStringList{file("a.bmp"), file("B.bmp")}));
    // Delete takes the selected entries out, as Remove List does.
    form_->List1->item(0)->setSelected(true);
    QTest::keyClick(form_->List1, Qt::Key_Delete);
    QCOMPARE(entries(), QStringList{file("B.bmp")});
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("1 Available After Removing"));
    // Typing a folder's first letters moves to it.
    QVERIFY(QDir(dir_->path()).mkdir("Zebra"));
    form_->Dir1->Refresh();
    QTest::keyClicks(form_->Dir1, "ze");
    QCOMPARE(form_->Dir1->currentItem()->text(), QStringLiteral("Zebra"));
    // F1 opens the About window.
    int abouts = 0;
    setAboutHook([&abouts](QWidget*) { ++abouts; });
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTest::keyClick(form_.get(), Qt::Key_F1);
    QCOMPARE(abouts, 1);
    setAboutHook({});
    // The status strip shows that it has the focus.
    const QImage unfocused = form_->lblStatus->grab().toImage();
    form_->PicStatus->setFocus();
    QVERIFY(form_->lblStatus->grab().toImage() != unfocused);
    // Enter in the quality box presses Convert, when it can be pressed.
    QSignalSpy converts(form_->cmdConvert, &QPushButton::clicked);
    setMsgBoxHook([](const QString&, int, const QString&) {});  // B.bmp is no bitmap
    form_->Timer1_Timer();
    QTest::keyClick(form_->txtQuality, Qt::Key_Return);
    QCOMPARE(converts.count(), 1);
    QCOMPARE(entries(), QStringList());
    form_->Timer1_Timer();
    QTest::keyClick(form_->txtQuality, Qt::Key_Return);
    QCOMPARE(converts.count(), 1);
}

QTEST_MAIN(ConversionListTest)
#include "tst_conversion_list.moc"
