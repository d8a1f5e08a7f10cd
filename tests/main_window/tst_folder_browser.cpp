// The folder browser: drive, folder and file lists following each other,
// the current folder, and drives that cannot be read.
#include "dir_list_box.h"
#include "drive_list_box.h"
#include "drives.h"
#include "file_list_box.h"
#include "form_runtime.h"
#include "frmMain.h"
#include "gui_session.h"
#include "list_box.h"
#include "modPellicor.h"
#include "test_hooks.h"

#include <QPushButton>
#include <QStyledItemDelegate>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

class FolderBrowserTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startsOnTheWorkingFolder();
    void choosingAFolderMovesTheFileListAndTheDrive();
    void theRootKeepsItsSlashInPathsToo();
    void choosingADriveShowsItsCurrentFolder();
    void unavailableDriveFallsBackToTheRoot();
    void otherDriveErrorsAreReportedWithoutFallback();
    void noEndlessFallbackWhenTheRootIsGoneToo();
    void aFolderThatCannotBeOpened_data();
    void aFolderThatCannotBeOpened();
    void namesInTheFileManagersOrder_data();
    void namesInTheFileManagersOrder();
    void aDriveThatVanishesFallsBackToTheRoot();
    void drivesThatGoOrStopAnswering_data();
    void drivesThatGoOrStopAnswering();
    void enterOpensAFolder();
    void namesWithLineBreaksTakeOneRow();

private:
    QString path(const QString& relative) const { return session_->file(relative); }

    std::unique_ptr<GuiSession> session_;
    frmMain* form_ = nullptr;
    QStringList messages_;
    QSet<QString> unreadable_;
    QList<DriveInfo> drives_;
};

void FolderBrowserTest::init() {
    session_ = std::make_unique<GuiSession>();
    for (const char* folder : {"camera/Photos/Sub", "camera/Empty", "stick"}) QVERIFY(QDir().mkpath(path(folder)));
    for (const char* file : {"camera/Photos/b.bmp", "camera/Photos/A.BMP", "camera/Photos/notes.txt",
                             "camera/Photos/.hidden.bmp", "stick/x.bmp"})
        session_->touch(file);
    QVERIFY(QDir().mkdir(path("camera/Photos/folder.bmp")));  // a folder is no file
    drives_ = {{QStringLiteral("/"), QString()},
               {path("camera"), QStringLiteral("Camera")},
               {path("stick"), QString()},
               {path("gone"), QStringLiteral("USB")}};
    unreadable_.clear();
    setDriveSource([this] { return drives_; },
                   [this](const QString& root) { return !unreadable_.contains(root) && QFileInfo(root).isDir(); });
    messages_.clear();
    setMsgBoxHook([this](const QString& prompt, int style, const QString& title) {
        QCOMPARE(style, vbCritical);
        QCOMPARE(title, QStringLiteral("Pellicor"));
        messages_ << prompt;
    });
    QDir::setCurrent(path("camera/Photos"));
    form_ = &session_->show();
}

void FolderBrowserTest::cleanup() { session_.reset(); }

void FolderBrowserTest::startsOnTheWorkingFolder() {
    QCOMPARE(form_->Dir1->Path(), path("camera/Photos"));
    QCOMPARE(sFilePath, path("camera/Photos"));
    QCOMPARE(form_->Drive1->Drive(), path("camera") + " [Camera]");
    // Bitmaps only, regardless of case, sorted regardless of case; no hidden files, no folders.
    QCOMPARE((QStringList{form_->File1->List(0), form_->File1->List(1), form_->File1->List(2)}), (QStringList{"A.BMP", "b.bmp", ""}));
    QCOMPARE(form_->Drive1->count(), 4);
    // The folder list: the chain from the drive's root, then the subfolders.
    QStringList shown;
    for (int i = 0; i < form_->Dir1->count(); ++i) shown << form_->Dir1->item(i)->text().trimmed();
    QCOMPARE(shown, (QStringList{path("camera"), "Photos", "folder.bmp", "Sub"}));
    QCOMPARE(form_->Dir1->currentRow(), 1);
}

void FolderBrowserTest::choosingAFolderMovesTheFileListAndTheDrive() {
    QSignalSpy changes(form_->Dir1, &DirListBox::Change);
    form_->Dir1->setPath(path("camera/Photos"));  // the same folder: no change event
    QCOMPARE(changes.count(), 0);

    form_->Dir1->setPath(path("camera/Empty"));
    QCOMPARE(changes.count(), 1);
    QCOMPARE(form_->File1->ListCount(), 0);
    QCOMPARE(sFilePath, path("camera/Empty"));
    QTRY_VERIFY(!form_->cmdAddAll->isEnabled());

    form_->Dir1->setPath(path("stick"));
    QCOMPARE(form_->Drive1->Drive(), path("stick"));
    QCOMPARE(form_->File1->List(0), QStringLiteral("x.bmp"));
    QCOMPARE(QDir::currentPath(), path("camera/Photos"));  // the process's own never follows
    QTRY_VERIFY(form_->cmdAddAll->isEnabled());
}

void FolderBrowserTest::theRootKeepsItsSlashInPathsToo() {
    form_->Dir1->setPath(QStringLiteral("/"));
    QCOMPARE(form_->Dir1->Path(), QStringLiteral("/"));
    QCOMPARE(sFilePath, QStringLiteral("/"));
    QCOMPARE(form_->Drive1->Drive(), QStringLiteral("/"));
    // Add All joins the root and a name with one slash (a listed name stands in for a bitmap there).
    form_->File1->clear();
    form_->File1->addItem(QStringLiteral("a.bmp"));
    form_->cmdAddAll_Click();
    QCOMPARE(form_->List1->List(0), QStringLiteral("/a.bmp"));
}

void FolderBrowserTest::choosingADriveShowsItsCurrentFolder() {
    form_->Dir1->setPath(path("camera/Photos/Sub"));
    form_->Drive1->setDrive(path("stick"));
    QCOMPARE(form_->Dir1->Path(), path("stick"));
    QCOMPARE(sFilePath, path("stick"));
    // Back on the camera, its own current folder is where we left it.
    form_->Drive1->setDrive(path("camera") + " [Camera]");
    QCOMPARE(form_->Dir1->Path(), path("camera/Photos/Sub"));
    QCOMPARE(messages_, QStringList());
}

void FolderBrowserTest::unavailableDriveFallsBackToTheRoot() {
    form_->Drive1->setDrive(path("gone") + " [USB]");
    QCOMPARE(messages_, QStringList{QStringLiteral("The selected drive is not available.")});
    QCOMPARE(form_->Drive1->Drive(), QStringLiteral("/"));
    QCOMPARE(form_->Dir1->Path(), QStringLiteral("/"));
    QCOMPARE(sFilePath, QStringLiteral("/"));
}

void FolderBrowserTest::otherDriveErrorsAreReportedWithoutFallback() {
    // Said to be readable, but its root is no folder: a different error.
    const QString before = form_->Dir1->Path();
    setDriveSource([this] { return QList<DriveInfo>{{"/", ""}, {path("camera"), "Camera"}, {path("gone"), "USB"}}; },
                   [](const QString&) { return true; });
    form_->Drive1->setDrive(path("gone") + " [USB]");
    QCOMPARE(messages_, QStringList{QStringLiteral("76\nPath not found")});
    QCOMPARE(form_->Drive1->Drive(), path("gone") + " [USB]");
    QCOMPARE(form_->Dir1->Path(), before);
    QCOMPARE(sFilePath, before);
}

void FolderBrowserTest::noEndlessFallbackWhenTheRootIsGoneToo() {
    unreadable_ = {QStringLiteral("/"), path("stick")};
    form_->Drive1->setDrive(path("stick"));
    QCOMPARE(messages_, (QStringList{QStringLiteral("The selected drive is not available."),
                                     QStringLiteral("The selected drive is not available.")}));
    QCOMPARE(form_->Drive1->Drive(), QStringLiteral("/"));
    QCOMPARE(form_->Dir1->Path(), path("camera/Photos"));
}

void FolderBrowserTest::aFolderThatCannotBeOpened_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("reason");  // none: it opens, listing what is left of it
    QTest::addColumn<QString>("shown");  // where the lists end
    QTest::newRow("removed after it was listed") << "click" << "camera/Photos/Sub" << "No such file or directory" << "camera/Photos";
    QTest::newRow("the folder shown removed too") << "click-all" << "camera/Photos/Sub" << "No such file or directory" << "camera";
    QTest::newRow("cannot be made current") << "set" << "camera/Empty" << "Path not found" << "camera/Photos";
    QTest::newRow("a drive's folder cannot be made current") << "drive" << "stick" << "Path not found" << "camera/Photos";
    QTest::newRow("removed before its files were read") << "set" << "camera/Photos/Sub" << "" << "camera/Photos/Sub";
}

// With "Delete BMP" on, Add All must never take the files of a folder other than the one shown.
void FolderBrowserTest::aFolderThatCannotBeOpened() {
    QFETCH(QString, how);
    QFETCH(QString, folder);
    QFETCH(QString, reason);
    QFETCH(QString, shown);
    const QString target = path(folder), photos = path("camera/Photos");
    shown = path(shown);
    session_->touch("camera/Photos/Sub/s.bmp");
    setChDirHook([&](const QString& f) { return f != target || (reason.isEmpty() && QDir(target).removeRecursively()); });
    if (how.startsWith("click")) QVERIFY(QDir(how == "click" ? target : photos).removeRecursively());
    const QRect sub = form_->Dir1->visualItemRect(form_->Dir1->findItems("Sub", Qt::MatchEndsWith).value(0));
    if (how.startsWith("click")) QTest::mouseDClick(form_->Dir1->viewport(), Qt::LeftButton, {}, sub.center());
    else if (how == "drive") form_->Drive1->setDrive(target);
    else form_->Dir1->setPath(target);
    QTRY_COMPARE(messages_, reason.isEmpty() ? QStringList() : QStringList{"Cannot open folder " + target + "\n" + reason});
    const QString selected = form_->Dir1->currentItem()->data(Qt::UserRole).toString();
    QCOMPARE((QStringList{form_->Dir1->Path(), selected, form_->File1->Path(), sFilePath}), QStringList(4, shown));
    QCOMPARE(form_->Dir1->findItems("Sub", Qt::MatchEndsWith).size(), int(!how.startsWith("click")));  // a folder gone leaves the list
    QCOMPARE(form_->Drive1->Drive(), path("camera") + " [Camera]");
    form_->cmdAddAll_Click();
    QCOMPARE(form_->List1->ListCount(), shown == photos ? 2 : 0);
    for (int i = 0; i < form_->List1->ListCount(); ++i) QVERIFY(form_->List1->List(i).startsWith(photos + "/"));
}

void FolderBrowserTest::namesInTheFileManagersOrder_data() {
    QTest::addColumn<QStringList>("order");
    QTest::newRow("numbers by value") << QStringList{"IMG_9", "IMG_0010", "Scan 1", "Scan 2", "Scan 10"};
    QTest::newRow("accents among their letters") << QStringList{"apple", "Ärger", "Echo", "Émile", "émile", "Zebra"};
}

// In the C locale, as CI has it (see the end): the common order of all languages.
void FolderBrowserTest::namesInTheFileManagersOrder() {
    QFETCH(QStringList, order);
    for (auto name = order.rbegin(); name != order.rend(); ++name) session_->touch("s/" + *name + "/in.bmp"), session_->touch("s/" + *name + ".bmp");
    const QString sorted = path("s/");
    form_->Dir1->setPath(sorted);
    form_->cmdAddAll_Click();  // queued in the order shown
    QStringList folders, files, queued;
    for (int i = 0; i < order.size(); ++i) {
        folders << form_->Dir1->model()->index(form_->Dir1->currentRow() + 1 + i, 0).data().toString();
        files << form_->File1->List(i).chopped(4);
        queued << form_->List1->List(i).mid(sorted.size()).chopped(4);
    }
    QCOMPARE(folders + files + queued, order + order + order);
}

void FolderBrowserTest::aDriveThatVanishesFallsBackToTheRoot() {
    form_->Dir1->setPath(path("stick"));
    drives_.removeAt(2);  // unplugged
    QTest::mouseClick(form_->Drive1, Qt::LeftButton);  // opens the drive list
    QCOMPARE(messages_, QStringList{"The selected drive is not available."});
    QCOMPARE(form_->Drive1->Drive(), QStringLiteral("/"));
    QCOMPARE(form_->Dir1->Path(), QStringLiteral("/"));
    QCOMPARE(sFilePath, QStringLiteral("/"));
}

void FolderBrowserTest::drivesThatGoOrStopAnswering_data() {
    QTest::addColumn<int>("gone");  // the drive unmounted, or -1
    QTest::addColumn<bool>("answering");  // the stick's file system
    QTest::addColumn<bool>("inARun");  // the mount table changes while a run's box is up
    QTest::addColumn<bool>("fallsBack");
    QTest::newRow("the shown drive goes") << 2 << true << false << true;
    QTest::newRow("another drive goes") << 1 << true << false << false;
    QTest::newRow("the shown drive goes during a run") << 2 << true << true << true;
    QTest::newRow("the shown drive stops answering") << -1 << false << false << false;
}

// Noticed without opening the drive list; a stick plugged in is listed.
void FolderBrowserTest::drivesThatGoOrStopAnswering() {
    QFETCH(int, gone);
    QFETCH(bool, answering);
    QFETCH(bool, inARun);
    QFETCH(bool, fallsBack);
    form_->Dir1->setPath(path("stick"));
    const auto change = [&] {
        drives_[2].answering = answering;
        if (gone >= 0) drives_.removeAt(gone);
        drives_.append({path("camera/Empty"), "New"});
        emit DriveWatch::instance().changed();
    };
    setMsgBoxHook([&](const QString& prompt, int, const QString&) {
        messages_ << prompt + (form_->isConverting() ? " (during the run)" : "");
        if (form_->isConverting()) change();
    });
    if (inARun) {
        form_->List1->AddItem(path("stick/missing.bmp"));
        form_->cmdConvert_Click();
    } else {
        change();
    }
    const QString said = "The selected drive is not available.";
    QCOMPARE(messages_.filter(said), fallsBack ? QStringList{said} : QStringList{});
    QCOMPARE(form_->Drive1->Drive(), fallsBack ? QStringLiteral("/") : path("stick"));
    QCOMPARE(form_->Dir1->Path(), fallsBack ? QStringLiteral("/") : path("stick"));
    QCOMPARE(form_->Drive1->currentText().endsWith("(not answering)"), !answering);
    QVERIFY(form_->Drive1->findText(path("camera/Empty") + " [New]") >= 0);
}

void FolderBrowserTest::enterOpensAFolder() {
    QListWidgetItem* sub = form_->Dir1->findItems(QStringLiteral("Sub"), Qt::MatchEndsWith).value(0);
    QVERIFY(sub);
    form_->Dir1->setFocus();
    form_->Dir1->setCurrentItem(sub);
    QTest::keyClick(form_->Dir1, Qt::Key_Return);
    QCOMPARE(form_->Dir1->Path(), path("camera/Photos/Sub"));
    QCOMPARE(sFilePath, path("camera/Photos/Sub"));
    // And a double-click on the drive's root goes all the way up.
    QListWidgetItem* root = form_->Dir1->item(0);
    QTest::mouseDClick(form_->Dir1->viewport(), Qt::LeftButton, {}, form_->Dir1->visualItemRect(root).center());
    QCOMPARE(form_->Dir1->Path(), path("camera"));
}

// A line break is a legal byte of a name; shown as it is, one file would read as two.
void FolderBrowserTest::namesWithLineBreaksTakeOneRow() {
    QVERIFY(QDir().mkpath(path("camera/Photos/two\nlines")));
    session_->touch("camera/Photos/scan\n2.bmp");
    form_->Dir1->setPath(path("camera/Empty"));
    form_->Dir1->setPath(path("camera/Photos"));
    for (const char* name : {"camera/Photos/b.bmp", "camera/Photos/scan\n2.bmp"}) form_->List1->AddItem(path(name));
    for (QListWidget* list : std::initializer_list<QListWidget*>{form_->Dir1, form_->File1, form_->List1}) {
        const QListWidgetItem* named = list->findItems("\n", Qt::MatchContains).value(0);
        const QString shown = static_cast<QStyledItemDelegate*>(list->itemDelegate())->displayText(named->text(), QLocale());
        QVERIFY2(!shown.contains('\n') && shown.contains(QChar(0x21B5)), qPrintable(shown));
        QCOMPARE(list->visualItemRect(named).height(), list->visualItemRect(list->item(list->row(named) == 0)).height());
    }
}

// The order of names follows the user's language: the tests take the C
// locale, as CI has it, whatever the developer's.
static const bool cLocale = qputenv("LC_ALL", "C.UTF-8");
QTEST_MAIN(FolderBrowserTest)
#include "tst_folder_browser.moc"
