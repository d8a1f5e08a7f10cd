// The About window: texts made from the version information, links that open
// exactly their addresses, and the logo's pressed look.
#include "frmAbout.h"
#include "gui_session.h"
#include "test_hooks.h"

#include <QLabel>
#include <QtTest>
#include <memory>

namespace {

void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }

}  // namespace

class AboutWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        session_ = std::make_unique<GuiSession>();
        about_ = std::make_unique<frmAbout>();
        about_->show();
        QVERIFY(QTest::qWaitForWindowExposed(about_.get()));
    }
    void cleanup() {
        about_.reset();
        session_.reset();
    }
    void textsFromTheVersionInformation();
    void linksOpenExactlyTheirAddresses_data();
    void linksOpenExactlyTheirAddresses();
    void theLogoShowsItsPressedLook();

private:
    std::unique_ptr<GuiSession> session_;
    std::unique_ptr<frmAbout> about_;
};

void AboutWindowTest::textsFromTheVersionInformation() {
    QCOMPARE(about_->lblTitle->text(), QStringLiteral("Pellicor v3.60"));
    // "\n" became a line break and "(c)" the copyright sign.
    QCOMPARE(about_->lblCopyright->text(), QStringLiteral("Copyright \u00A9 2026 Corvane\r\nAll rights reserved."));
}

void AboutWindowTest::linksOpenExactlyTheirAddresses_data() {
    QTest::addColumn<bool>("keys");
    QTest::newRow("clicked") << false;
    QTest::newRow("Tab, then Enter") << true;  // not OK's Enter: the window stays
}

void AboutWindowTest::linksOpenExactlyTheirAddresses() {
    QFETCH(bool, keys);
    for (QLabel* link : {about_->lblHomePage, about_->lblEMail}) {
        for (int tabs = 0; keys && tabs < 4 && QApplication::focusWidget() != link; ++tabs)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(!keys || QApplication::focusWidget() == link);
        keys ? QTest::keyClick(link, Qt::Key_Return) : click(link);
    }
    QVERIFY(about_->isVisible());
    // One argument each, never a shell command line.
    QCOMPARE(session_->launched, (QList<QStringList>{{"xdg-open", "https://corvane.example/freeware/"},
                                                     {"xdg-open", "mailto:pellicor@corvane.example?subject=Pellicor%20v3.60"}}));
    QCOMPARE(QUrl(session_->launched[1][1]).query(QUrl::FullyDecoded), QStringLiteral("subject=Pellicor v3.60"));
    // Without a handler nothing changes: the window stays open, no message.
    setLauncher([](const QString&, const QStringList&) { return false; });
    click(about_->lblHomePage);
    QVERIFY(about_->isVisible());
    QCOMPARE(session_->prompts(), QStringList());
}

void AboutWindowTest::theLogoShowsItsPressedLook() {
    QTest::mousePress(about_->picLogo, Qt::LeftButton, {}, QPoint(20, 20));
    QVERIFY(about_->picLogo2->isVisible());
    QVERIFY(!about_->picLogo->isVisible());
    // The release reaches the logo although it is hidden now.
    QTest::mouseRelease(QWidget::mouseGrabber() ? QWidget::mouseGrabber() : about_->picLogo2, Qt::LeftButton, {},
                        QPoint(20, 20));
    QVERIFY(about_->picLogo->isVisible());
    QVERIFY(!about_->picLogo2->isVisible());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    QVERIFY(session_->launched.isEmpty());  // pressing the logo does nothing else
}

QTEST_MAIN(AboutWindowTest)
#include "tst_about_window.moc"
