// Queuing and removing files: the messages in the order the user sees them,
// drops from the file manager, and the entries' tooltip.
#include "dir_list_box.h"
#include "file_list_box.h"
#include "frmMain.h"
#include "gui_session.h"
#include "list_box.h"
#include "modPellicor.h"
#include "test_hooks.h"

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
    void addAllLowerCasesWhereNamesIgnoreCase();
    void doubleClickOnAFile();
    void removeSelectedEntries_data();
    void removeSelectedEntries();
    void doubleClickRemovesTheEntryUnderThePointer();
    void drops_data();
    void drops();
    void entriesDragOutAsText();
    void tooltipShowsTheEntryUnderThePointer();
    void keysDoWhatTheMouseDoes();

private:
    QString file(const QString& name) const { return session_->file(name); }
    QStringList entries() const;
    QStringList statuses() const;

    std::unique_ptr<GuiSession> session_;
    frmMain* form_ = nullptr;
    std::unique_ptr<QSignalSpy> status_;
};

void ConversionListTest::init() {
    session_ = std::make_unique<GuiSession>();
    for (const char* name : {"a.bmp", "B.bmp", "c.bmp"}) session_->touch(name);
    form_ = &session_->show();
    status_ = std::make_unique<QSignalSpy>(form_, &frmMain::statusWritten);
}

void ConversionListTest::cleanup() {
    QCOMPARE(session_->prompts(), QStringList());
    status_.reset();
    session_.reset();
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

void ConversionListTest::addAllTwice() {
    QCOMPARE(sFilePath, session_->dir.path());
    QTest::mouseClick(form_->cmdAddAll, Qt::LeftButton);
    // Here names are case-sensitive: "B.bmp" is kept as it is.
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

void ConversionListTest::addAllLowerCasesWhereNamesIgnoreCase() {
    setCaseRule([](const QString&) { return true; });
    QTest::mouseClick(form_->cmdAddAll, Qt::LeftButton);
    // The names only: the folders above may lie where case matters.
    QCOMPARE(entries(), (QStringList{file("a.bmp"), file("b.bmp"), file("c.bmp")}));
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

void ConversionListTest::removeSelectedEntries_data() {
    QTest::addColumn<QList<int>>("selected");  // of /p/0.bmp .. /p/3.bmp
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<QStringList>("written");
    const QStringList twoLeft = {"3 Available After Removing", "2 Available After Removing"};
    QTest::newRow("none: nothing happens") << QList<int>{} << QStringList{"/p/0.bmp", "/p/1.bmp", "/p/2.bmp", "/p/3.bmp"}
                                           << QStringList();
    QTest::newRow("0 and 2") << QList<int>{0, 2} << QStringList{"/p/1.bmp", "/p/3.bmp"} << twoLeft;
    QTest::newRow("0 and 1, side by side") << QList<int>{0, 1} << QStringList{"/p/2.bmp", "/p/3.bmp"} << twoLeft;
    QTest::newRow("the last two") << QList<int>{2, 3} << QStringList{"/p/0.bmp", "/p/1.bmp"} << twoLeft;
}

void ConversionListTest::removeSelectedEntries() {
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, remaining);
    QFETCH(QStringList, written);
    for (const char* name : {"/p/0.bmp", "/p/1.bmp", "/p/2.bmp", "/p/3.bmp"}) form_->List1->AddItem(name);
    for (int row : selected) form_->List1->item(row)->setSelected(true);
    form_->Timer1_Timer();
    if (form_->cmdRemoveAll->isEnabled()) QTest::mouseClick(form_->cmdRemoveAll, Qt::LeftButton);
    else form_->cmdRemoveAll_Click();
    QCOMPARE(entries(), remaining);
    QCOMPARE(statuses(), written);
}

void ConversionListTest::doubleClickRemovesTheEntryUnderThePointer() {
    for (const char* name : {"/p/0.bmp", "/p/1.bmp"}) form_->List1->AddItem(name);
    const QRect last = form_->List1->visualItemRect(form_->List1->item(1));
    QTest::mouseDClick(form_->List1->viewport(), Qt::LeftButton, {}, last.center());
    QCOMPARE(entries(), QStringList{"/p/0.bmp"});
    QCOMPARE(statuses(), QStringList{"1 Available After Removing"});

    // Below the entries a double-click removes nothing, though an entry is current.
    form_->List1->setCurrentRow(0);
    QTest::mouseDClick(form_->List1->viewport(), Qt::LeftButton, {}, last.center());
    QCOMPARE(entries(), QStringList{"/p/0.bmp"});
}

void ConversionListTest::drops_data() {
    QTest::addColumn<QStringList>("queued");
    QTest::addColumn<QString>("mime");  // "urls" (paths, or addresses) or "text"
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<bool>("ignoreCase");  // the file system's rule for names
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("status");
    const QStringList five = {"/q/1.bmp", "/q/2.bmp", "/q/3.bmp", "/q/4.bmp", "/q/5.bmp"};
    QStringList many;
    for (int i = 0; i < 40000; ++i) many << QStringLiteral("/many/%1.bmp").arg(i);
    QTest::newRow("three new files onto an empty list")
        << QStringList() << "urls" << QStringList{"/d/x.bmp", "/d/notes.txt", "/d/Folder"} << false
        << QStringList{"/d/x.bmp", "/d/notes.txt", "/d/Folder"} << "3 Added successfully";
    QTest::newRow("one file onto an empty list") << QStringList() << "urls" << QStringList{"/d/one.bmp"} << false
                                                 << QStringList{"/d/one.bmp"} << "1 Added successfully";
    QTest::newRow("duplicates onto a list of five") << five << "urls" << QStringList{"/q/2.bmp", "/q/5.bmp"} << false
                                                    << five << "5 Duplicate No Added";
    QTest::newRow("no limit on the number") << QStringList() << "urls" << many << false << many << "40000 Added successfully";
    QTest::newRow("plain text is no file list") << QStringList() << "text" << QStringList{"/d/looks-like-a-path.bmp"}
                                                << false << QStringList() << "Ready";
    QTest::newRow("a remote address") << QStringList() << "urls" << QStringList{"https://example.org/picture.bmp"}
                                      << false << QStringList() << "Ready";
    QTest::newRow("remote and local: the local file") << QStringList() << "urls"
                                                      << QStringList{"https://example.org/a.bmp", "/d/b.bmp"} << false
                                                      << QStringList{"/d/b.bmp"} << "1 Added successfully";
    QTest::newRow("names keep case: another file") << QStringList{"/d/B.bmp"} << "urls" << QStringList{"/d/b.bmp"}
                                                   << false << QStringList{"/d/B.bmp", "/d/b.bmp"} << "2 Added successfully";
    QTest::newRow("names ignore case: the name lower-cased") << QStringList() << "urls" << QStringList{"/Stick/Mixed.BMP"} << true
                                                             << QStringList{"/Stick/mixed.bmp"} << "1 Added successfully";
    QTest::newRow("names ignore case: the same file") << QStringList{"/d/a.bmp", "/d/b.bmp"} << "urls"
                                                      << QStringList{"/d/A.BMP"} << true
                                                      << QStringList{"/d/a.bmp", "/d/b.bmp"} << "2 Duplicate No Added";
    // Relative paths name the session's own files and folders.
    QTest::newRow("a folder: the bitmaps directly in it") << QStringList() << "urls" << QStringList{"f"} << false
                                                          << QStringList{"f/a.bmp", "f/B.BMP"} << "2 Added successfully";
    QTest::newRow("a folder with a slash, and a file") << QStringList() << "urls" << QStringList{"f/", "f/notes.txt"} << false
                                                       << QStringList{"f/a.bmp", "f/B.BMP", "f/notes.txt"} << "3 Added successfully";
    QTest::newRow("a folder named like a bitmap") << QStringList() << "urls" << QStringList{"f/odd.bmp"} << false
                                                  << QStringList() << "Ready";
}

// Dropped as the file manager drops: on the list's viewport.
void ConversionListTest::drops() {
    QFETCH(QStringList, queued);
    QFETCH(QString, mime);
    QFETCH(QStringList, dropped);
    QFETCH(bool, ignoreCase);
    QFETCH(QStringList, expected);
    QFETCH(QString, status);
    for (const QString& entry : queued) form_->List1->AddItem(entry);
    setCaseRule([ignoreCase](const QString&) { return ignoreCase; });
    QMimeData data;
    QList<QUrl> urls;
    for (const char* name : {"f/a.bmp", "f/B.BMP", "f/notes.txt", "f/sub/c.bmp", "f/odd.bmp/x"}) session_->touch(name);
    for (QString& e : expected) e = e.startsWith('/') ? e : file(e);
    for (const QString& d : dropped) urls << (d.startsWith('/') ? QUrl::fromLocalFile(d) : d.contains(':') ? QUrl(d) : QUrl::fromLocalFile(file(d)));
    if (mime == "urls") data.setUrls(urls);
    else data.setText(dropped.join('\n'));
    QWidget* target = form_->List1->viewport();
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QCOMPARE(entries(), expected);
    QCOMPARE(form_->lblStatus->text(), status);
    // The number of files dropped is written first (a session folder's: all it gives).
    const qsizetype local = mime == "urls" ? dropped.filter(QRegularExpression("^/")).size() + expected.filter(file("")).size() : 0;
    QCOMPARE(statuses().value(0), local ? QString::number(local) + " Added successfully" : QString());
}

void ConversionListTest::entriesDragOutAsText() {
    for (const char* name : {"/p/one.bmp", "/p/two.bmp"}) form_->List1->AddItem(name);
    form_->List1->selectAll();
    QVERIFY(form_->List1->dragEnabled());
    const std::unique_ptr<QMimeData> data(form_->List1->selectionData());
    QCOMPARE(data->text(), QStringLiteral("/p/one.bmp\n/p/two.bmp"));
    QVERIFY(!data->hasUrls());  // dropped back onto the list, it queues nothing
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
    QTRY_COMPARE(QToolTip::text(), form_->List1->List(12));  // shown, with that text

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
    // Typing a folder's first letters moves to it (the indentation is no part of the name).
    QVERIFY(QDir(session_->dir.path()).mkdir("Zebra"));
    form_->Dir1->Refresh();
    QTest::keyClicks(form_->Dir1, "ze");
    QCOMPARE(form_->Dir1->currentItem()->text(), QStringLiteral("Zebra"));
    // F1 opens the About window.
    QTest::keyClick(form_, Qt::Key_F1);
    QCOMPARE(session_->abouts, QList<QWidget*>{form_});
    // The status strip shows that it has the focus.
    const QImage unfocused = form_->lblStatus->grab().toImage();
    form_->PicStatus->setFocus();
    QVERIFY(form_->lblStatus->grab().toImage() != unfocused);
    // Enter in the quality box presses Convert, when it can be pressed.
    QSignalSpy converts(form_->cmdConvert, &QPushButton::clicked);
    form_->Timer1_Timer();
    QTest::keyClick(form_->txtQuality, Qt::Key_Return);
    QCOMPARE(converts.count(), 1);
    QCOMPARE(entries(), QStringList());
    QCOMPARE(session_->prompts(), QStringList{"Cannot find file " + file("B.bmp") + "\nThe file is not a bitmap"});
    session_->messages.clear();
    form_->Timer1_Timer();
    QTest::keyClick(form_->txtQuality, Qt::Key_Return);
    QCOMPARE(converts.count(), 1);
}

QTEST_MAIN(ConversionListTest)
#include "tst_conversion_list.moc"
