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
    void aFolderThatCannotBeMadeCurrent();
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
    QCOMPARE(form_->File1->ListCount(), 2);
    QCOMPARE(form_->File1->List(0), QStringLiteral("A.BMP"));
    QCOMPARE(form_->File1->List(1), QStringLiteral("b.bmp"));
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

void FolderBrowserTest::aFolderThatCannotBeMadeCurrent() {
    setChDirHook([this](const QString& folder) { return folder != path("camera/Empty"); });
    form_->Dir1->setPath(path("camera/Empty"));
    QCOMPARE(form_->Dir1->Path(), path("camera/Empty"));  // the folder list shows it...
    QCOMPARE(sFilePath, path("camera/Photos"));  // ...but nothing else follows
    QCOMPARE(form_->File1->Path(), path("camera/Photos"));
    QCOMPARE(form_->File1->ListCount(), 2);
    QVERIFY(!form_->bDirBusy);
    QCOMPARE(messages_, QStringList());
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

QTEST_MAIN(FolderBrowserTest)
#include "tst_folder_browser.moc"
