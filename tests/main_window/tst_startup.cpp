// Settings kept from one start to the next, and the window's shape.
#include "Registry.h"
#include "dir_list_box.h"
#include "file_list_box.h"
#include "frmMain.h"
#include "gui_session.h"
#include "list_box.h"
#include "modPellicor.h"
#include "twips.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

namespace {

const QString kKey = QStringLiteral("Software\\Corvane\\Pellicor\\Main");

QVariant stored(const char* name) { return ReadValue(HKEY_CURRENT_USER, kKey, name, "<missing>"); }

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstStartUsesTheDefaults();
    void settingsSurviveARestart();
    void storedValuesOfEitherType();
    void maximizedCloseKeepsThePlace();
    void aFolderThatIsGone();
    void windowsOffEveryScreenComeBack();
    void heightAndWidthAreHeld();

private:
    frmMain& open() { return session_->show(); }
    void close() {
        session_->form->cmdExit_Click();
        session_->form.reset();
    }

    std::unique_ptr<GuiSession> session_;
    const QTemporaryDir* dir_ = nullptr;
};

void StartupTest::init() {
    session_ = std::make_unique<GuiSession>();
    dir_ = &session_->dir;
    QVERIFY(QDir().mkpath(dir_->filePath("start")));
    QVERIFY(QDir().mkpath(dir_->filePath("Pictures")));
    QDir::setCurrent(dir_->filePath("start"));
}

void StartupTest::cleanup() { session_.reset(); }

void StartupTest::firstStartUsesTheDefaults() {
    frmMain& f = open();
    QVERIFY(qAbs(f.Left()) <= 30 && qAbs(f.Top()) <= 30);
    QCOMPARE(f.Width(), 9000.0);
    QCOMPARE(f.Height(), 6480.0);
    QCOMPARE(f.chkKill->checkState(), Qt::Checked);
    QCOMPARE(f.txtQuality->text(), QStringLiteral("75"));
    QCOMPARE(f.windowTitle(), QStringLiteral("Pellicor v3.60"));
    QVERIFY(f.List1->viewport()->acceptDrops());  // a file manager's drop lands there
    QCOMPARE(f.Dir1->Path(), dir_->filePath("start"));
    QCOMPARE(sFilePath, dir_->filePath("start"));  // not the empty stored text
    QVERIFY(!QFile::exists(session_->settings.filePath("registry.reg")));  // nothing is written before the first close
    close();
    QCOMPARE(stored("MainWidth"), QVariant(9000));
    QCOMPARE(stored("DeleteFile"), QVariant("1"));
}

void StartupTest::settingsSurviveARestart() {
    frmMain& f = open();
    f.setLeft(-4500);  // on a monitor left of the primary one
    f.setTop(600);
    f.setWidth(10500);
    f.Dir1->setPath(dir_->filePath("Pictures"));
    f.chkKill->setCheckState(Qt::Unchecked);
    f.txtQuality->setText(QStringLiteral(" 8x "));  // kept exactly as typed
    close();
    QCOMPARE(stored("MainLeft"), QVariant(-4500));
    QCOMPARE(stored("FilePath"), QVariant(dir_->filePath("Pictures")));
    QCOMPARE(stored("Quality"), QVariant(" 8x "));

    QDir::setCurrent(dir_->filePath("start"));
    frmMain& again = open();
    // (The offscreen test platform puts a new window's fake frame up to two pixels off.)
    QVERIFY2(qAbs(again.Left() + 4500) <= 30, qPrintable(QString::number(again.Left())));
    QVERIFY2(qAbs(again.Top() - 600) <= 30, qPrintable(QString::number(again.Top())));
    QCOMPARE(again.Width(), 10500.0);
    QCOMPARE(again.Dir1->Path(), dir_->filePath("Pictures"));
    QCOMPARE(sFilePath, dir_->filePath("Pictures"));
    QCOMPARE(again.chkKill->checkState(), Qt::Unchecked);
    QCOMPARE(again.txtQuality->text(), QStringLiteral(" 8x "));
}

void StartupTest::storedValuesOfEitherType() {
    WriteStringValue(HKEY_CURRENT_USER, kKey, "DeleteFile", "2");
    WriteStringValue(HKEY_CURRENT_USER, kKey, "MainWidth", "9600");
    WriteStringValue(HKEY_CURRENT_USER, kKey, "MainTop", "not a number");
    QCOMPARE(open().chkKill->checkState(), Qt::PartiallyChecked);  // grayed
    QCOMPARE(session_->form->Width(), 9600.0);
    close();
    QCOMPARE(stored("DeleteFile"), QVariant("2"));

    WriteDWordValue(HKEY_CURRENT_USER, kKey, "DeleteFile", 0);
    QCOMPARE(open().chkKill->checkState(), Qt::Unchecked);
    session_->form.reset();
    WriteStringValue(HKEY_CURRENT_USER, kKey, "DeleteFile", "7");  // out of range: left as created
    QCOMPARE(open().chkKill->checkState(), Qt::Unchecked);
}

void StartupTest::maximizedCloseKeepsThePlace() {
    WriteDWordValue(HKEY_CURRENT_USER, kKey, "MainLeft", 1500);
    WriteDWordValue(HKEY_CURRENT_USER, kKey, "MainWidth", 9900);
    frmMain& f = open();
    f.txtQuality->setText(QStringLiteral("88"));
    f.setWindowState(Qt::WindowMaximized);
    QCOMPARE(f.WindowState(), 2);
    close();
    QCOMPARE(stored("MainLeft"), QVariant(1500));
    QCOMPARE(stored("MainWidth"), QVariant(9900));
    QCOMPARE(stored("MainTop"), QVariant("<missing>"));
    QCOMPARE(stored("Quality"), QVariant("88"));
}

void StartupTest::aFolderThatIsGone() {
    WriteStringValue(HKEY_CURRENT_USER, kKey, "FilePath", dir_->filePath("deleted since"));
    QFile bitmap(dir_->filePath("start/a.bmp"));
    QVERIFY(bitmap.open(QIODevice::WriteOnly));
    bitmap.close();
    frmMain& f = open();
    QCOMPARE(f.Dir1->Path(), dir_->filePath("start"));
    // Add All must build real paths in the folder that is shown.
    QCOMPARE(sFilePath, dir_->filePath("start"));
    f.cmdAddAll_Click();
    QCOMPARE(f.List1->List(0), dir_->filePath("start/a.bmp"));
}

void StartupTest::windowsOffEveryScreenComeBack() {
    WriteDWordValue(HKEY_CURRENT_USER, kKey, "MainLeft", -60000);
    WriteDWordValue(HKEY_CURRENT_USER, kKey, "MainTop", 90000);
    frmMain& f = open();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(qAbs(f.Left() - pixelsToTwips(screen.left())) <= 30);
    QVERIFY(qAbs(f.Top() - pixelsToTwips(screen.top())) <= 30);
    close();

    // A width no screen can show, from a damaged setting: the window still fits.
    WriteDWordValue(HKEY_CURRENT_USER, kKey, "MainLeft", -29910);
    WriteDWordValue(HKEY_CURRENT_USER, kKey, "MainWidth", 0x7fffffff);
    frmMain& wide = open();
    QVERIFY(wide.frameGeometry().width() <= screen.width());
    QVERIFY(screen.contains(wide.geometry().topLeft()));
}

void StartupTest::heightAndWidthAreHeld() {
    frmMain& f = open();
    QCOMPARE(f.minimumHeight(), f.maximumHeight());  // the window manager holds the height too
    QCOMPARE(f.minimumWidth(), twipsToPixels(6855) - 10);
    // Past the window manager's limits (one pixel is 15 twips): corrected, and usable again.
    f.setMinimumSize(0, 0);
    f.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    for (int pixels : {-1, 0, 1}) {
        f.resize(f.width(), twipsToPixels(6480) - 27 + pixels);
        QTRY_COMPARE(f.Height(), 6480.0);
        QVERIFY(f.isEnabled());
    }
    f.resize(100, f.height());
    QTRY_COMPARE(f.Width(), 6855.0);
    // Wider, the conversion list takes the width, and Exit stays at the right edge.
    const int listWidth = f.List1->width(), exitGap = f.width() - f.cmdExit->geometry().right();
    f.resize(f.width() + 150, f.height());
    QTRY_COMPARE(f.List1->width(), listWidth + 150);
    QCOMPARE(f.width() - f.cmdExit->geometry().right(), exitGap);
    // A minimized window is left alone.
    f.showMinimized();
    QCOMPARE(f.WindowState(), 1);
    f.Form_Resize();
    QVERIFY(f.isEnabled());
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
