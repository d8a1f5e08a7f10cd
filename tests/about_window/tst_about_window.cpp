// The About window and the main window's small commands.
#include "frmAbout.h"
#include "frmMain.h"
#include "Registry.h"
#include "shell.h"
#include "twips.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

namespace {

void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

}  // namespace

class AboutWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void textsFromTheVersionInformation();
    void looksAsDesigned();
    void linksOpenExactlyTheirAddresses();
    void theLogoShowsItsPressedLook();
    void enterAndEscClose();
    void deleteOptionTogglesAndIsNeverGrayedByAClick();
    void iconAndTitlesOpenTheAboutWindow();
    void exitSavesTheSettings();

private:
    std::unique_ptr<frmAbout> about_;
    QList<QStringList> launched_;
};

void AboutWindowTest::init() {
    QFile::remove(qEnvironmentVariable("PELLICOR_REGISTRY_FILE"));
    launched_.clear();
    setLauncher([this](const QString& program, const QStringList& arguments) {
        launched_ << (QStringList{program} + arguments);
        return true;
    });
    about_ = std::make_unique<frmAbout>();
}

void AboutWindowTest::cleanup() {
    about_.reset();
    setLauncher({});
    setAboutHook({});
}

void AboutWindowTest::textsFromTheVersionInformation() {
    QCOMPARE(about_->windowTitle(), QStringLiteral("About "));
    QCOMPARE(about_->lblTitle->text(), QStringLiteral("Pellicor v3.60"));
    // "\n" became a line break and "(c)" the copyright sign.
    QCOMPARE(about_->lblCopyright->text(), QStringLiteral("Copyright \u00A9 2026 Corvane\r\nAll rights reserved."));
    QVERIFY(about_->lblComments->text().contains(QStringLiteral("converts the selected bitmap files to JPEG files")));
    QVERIFY(about_->lblComments->text().contains(QStringLiteral("freeware")));
    QCOMPARE(about_->lblTitle->font().family(), QStringLiteral("Arial"));
    QVERIFY(about_->lblTitle->font().bold());
    QCOMPARE(about_->lblTittel->text(), QStringLiteral("Go to Corvane's Freewarepage                    or "));
}

void AboutWindowTest::looksAsDesigned() {
    QCOMPARE(about_->size(), QSize(twipsToPixels(7395), twipsToPixels(3165)));
    QCOMPARE(about_->minimumSize(), about_->maximumSize());
    QCOMPARE(about_->picLogo->geometry(), twipsRect(240, 240, 2025, 1830));
    QCOMPARE(about_->picLogo2->geometry(), about_->picLogo->geometry());
    QVERIFY(!about_->picLogo2->isVisibleTo(about_.get()));
    QCOMPARE(about_->picLogo->pixmap().size(), QSize(131, 118));
    QCOMPARE(about_->picLogo2->pixmap().size(), QSize(131, 118));
    QVERIFY(!about_->picLogo->toolTip().isEmpty());
    for (QLabel* link : {about_->lblHomePage, about_->lblEMail}) {
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 192));
        QVERIFY(link->font().bold() && link->font().underline());
        QCOMPARE(link->cursor().hotSpot(), QPoint(5, 0));
        QCOMPARE(link->cursor().pixmap().size(), QSize(32, 32));
    }
    QCOMPARE(about_->lblHomePage->toolTip(), QStringLiteral("https://corvane.example/freeware/"));
    QCOMPARE(about_->lblEMail->toolTip(), QStringLiteral("pellicor@corvane.example"));
    QVERIFY(about_->cbOK->isDefault());
}

void AboutWindowTest::linksOpenExactlyTheirAddresses() {
    about_->show();
    QVERIFY(QTest::qWaitForWindowExposed(about_.get()));
    click(about_->lblHomePage);
    click(about_->lblEMail);
    QCOMPARE(launched_.size(), 2);
    // One argument each, never a shell command line.
    QCOMPARE(launched_[0], (QStringList{"xdg-open", "https://corvane.example/freeware/"}));
    QCOMPARE(launched_[1], (QStringList{"xdg-open", "mailto:pellicor@corvane.example?subject=Pellicor%20v3.60"}));
    QCOMPARE(QUrl(launched_[1][1]).query(QUrl::FullyDecoded), QStringLiteral("subject=Pellicor v3.60"));
    // Without a handler nothing changes: the window stays open, no message.
    setLauncher([](const QString&, const QStringList&) { return false; });
    click(about_->lblHomePage);
    QVERIFY(about_->isVisible());
}

void AboutWindowTest::theLogoShowsItsPressedLook() {
    about_->show();
    QVERIFY(QTest::qWaitForWindowExposed(about_.get()));
    QTest::mousePress(about_->picLogo, Qt::LeftButton, {}, QPoint(20, 20));
    QVERIFY(about_->picLogo2->isVisible());
    QVERIFY(!about_->picLogo->isVisible());
    // The release reaches the logo although it is hidden now.
    QTest::mouseRelease(QWidget::mouseGrabber() ? QWidget::mouseGrabber() : about_->picLogo2, Qt::LeftButton, {},
                        QPoint(20, 20));
    QVERIFY(about_->picLogo->isVisible());
    QVERIFY(!about_->picLogo2->isVisible());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    QVERIFY(launched_.isEmpty());  // pressing the logo does nothing else
}

void AboutWindowTest::enterAndEscClose() {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        frmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        QCOMPARE(QApplication::focusWidget(), about.cbOK);
        QTest::keyClick(&about, key);
        QTRY_VERIFY(!about.isVisible());
    }
}

void AboutWindowTest::deleteOptionTogglesAndIsNeverGrayedByAClick() {
    frmMain form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The label and the box alike: a grayed box (a stored setting) clears, and is never grayed again.
    for (QWidget* clicked : {static_cast<QWidget*>(form.lblKill), static_cast<QWidget*>(form.chkKill)}) {
        form.chkKill->setCheckState(Qt::PartiallyChecked);
        for (Qt::CheckState expected : {Qt::Unchecked, Qt::Checked, Qt::Unchecked}) {
            click(clicked);
            QCOMPARE(form.chkKill->checkState(), expected);
        }
    }
}

void AboutWindowTest::iconAndTitlesOpenTheAboutWindow() {
    frmMain form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QList<QWidget*> owners;
    setAboutHook([&owners](QWidget* owner) { owners << owner; });
    click(form.Image1);
    click(form.lblTittel[0]);
    click(form.lblTittel[1]);
    QCOMPARE(owners, (QList<QWidget*>{&form, &form, &form}));

    // The real window is modal: the main window takes no input while it is open.
    setAboutHook({});
    QTimer::singleShot(100, [&form] {
        auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        QVERIFY(about);
        QVERIFY(about->isModal());
        QVERIFY(QApplication::activeModalWidget() != &form);
        about->cbOK->click();
    });
    form.Image1_Click();
    QVERIFY(!QApplication::activeModalWidget());
}

void AboutWindowTest::exitSavesTheSettings() {
    {
        frmMain form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.txtQuality->setText(QStringLiteral("64"));
        QTest::mouseClick(form.cmdExit, Qt::LeftButton);
        QVERIFY(!form.isVisible());
    }
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, "Software\\Corvane\\Pellicor\\Main", "Quality", "75"), QVariant("64"));
}

QTEST_MAIN(AboutWindowTest)
#include "tst_about_window.moc"
