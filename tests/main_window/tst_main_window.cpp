// The main window as the user first sees it: every control where it was
// designed, its texts, pictures, focus order, access keys and button states.
#include "dir_list_box.h"
#include "drive_list_box.h"
#include "file_list_box.h"
#include "form_runtime.h"
#include "frmAbout.h"
#include "frmMain.h"
#include "list_box.h"
#include "twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <QtTest>
#include <memory>

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void controlsAsDesigned_data();
    void controlsAsDesigned();
    void textsFontsAndPictures();
    void focusStartsOnTheFileListAndFollowsTheTabOrder();
    void accessKeysPressEnabledButtons();
    void timerKeepsTheButtonsInStep();
    void aDisabledButtonHandsItsFocusToAList_data();
    void aDisabledButtonHandsItsFocusToAList();
    void exitClosesTheWindow();
    void everyMessageBoxOfARunIsCentredOnTheWindow();
    void textsShowWhole();

private:
    std::unique_ptr<frmMain> form_;
    QTemporaryDir folder_;
};

void MainWindowTest::init() {
    QFile::remove(qEnvironmentVariable("PELLICOR_REGISTRY_FILE"));
    QDir::setCurrent(folder_.path());
    form_ = std::make_unique<frmMain>();
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
}

void MainWindowTest::cleanup() { form_.reset(); }

void MainWindowTest::controlsAsDesigned_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");  // left, top, width, height
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("tip");
    QTest::addColumn<bool>("enabled");
    const QString killTip = QStringLiteral(" Delete All BMP files after Finished Converting ");
    QTest::newRow("File1") << "File1" << QRect(120, 2970, 2775, 2040) << "" << "" << true;
    QTest::newRow("Dir1") << "Dir1" << QRect(120, 1200, 2775, 1665) << "" << "" << true;
    QTest::newRow("Drive1") << "Drive1" << QRect(120, 840, 2775, 315) << "" << "" << true;
    QTest::newRow("List1") << "List1" << QRect(3000, 840, 3615, 4155) << "" << "" << true;
    QTest::newRow("lblTittel(0)") << "lblTittel_0" << QRect(960, 120, 4755, 360) << "Pellicor" << "" << true;
    QTest::newRow("lblTittel(1)") << "lblTittel_1" << QRect(960, 480, 4755, 255)
                                  << "Support for drag and drop files in list" << "" << true;
    QTest::newRow("cmdConvert") << "cmdConvert" << QRect(120, 5160, 1215, 495) << "&Convert" << " Start Converting "
                                << false;
    QTest::newRow("cmdExit") << "cmdExit" << QRect(5400, 5160, 1215, 495) << "&Exit" << "Exit" << true;
    QTest::newRow("cmdAddAll") << "cmdAddAll" << QRect(1440, 5160, 1215, 495) << "&Add All" << " Add All to list "
                               << true;
    QTest::newRow("cmdRemoveAll") << "cmdRemoveAll" << QRect(2760, 5160, 1215, 495) << "&Remove List"
                                  << " Remove Selected from list " << false;
    QTest::newRow("chkKill") << "chkKill" << QRect(4120, 5320, 200, 200) << "" << killTip << true;
    QTest::newRow("txtQuality") << "txtQuality" << QRect(5880, 360, 735, 285) << "75" << "Enter JPG Quality in %"
                                << true;
    QTest::newRow("Image1") << "Image1" << QRect(120, 120, 600, 600) << "" << "" << true;
    QTest::newRow("ImgBakgrunn") << "ImgBakgrunn" << QRect(0, 0, 6795, 5775) << "" << "" << true;
    QTest::newRow("lblStatus in PicStatus") << "lblStatus" << QRect(80, 20, 6495, 255) << "Ready" << "" << true;
}

void MainWindowTest::controlsAsDesigned() {
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    QFETCH(QString, caption);
    QFETCH(QString, tip);
    QFETCH(bool, enabled);
    // As created, before the first timer tick decides the buttons.
    frmMain fresh;
    fresh.Timer1->stop();
    QWidget* w = fresh.findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(w->geometry(), twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    QCOMPARE(w->toolTip(), tip);
    QCOMPARE(w->isEnabled(), enabled);
    if (auto* b = qobject_cast<QPushButton*>(w)) QCOMPARE(b->text(), caption);
    if (auto* l = qobject_cast<QLabel*>(w)) QCOMPARE(l->text(), caption);
    if (auto* e = qobject_cast<QLineEdit*>(w)) QCOMPARE(e->text(), caption);
}

void MainWindowTest::textsFontsAndPictures() {
    QCOMPARE(frmMain().windowTitle(), QStringLiteral("Pellicor"));  // as created, before loading
    QCOMPARE(form_->windowTitle(), QStringLiteral("Pellicor v3.60"));
    QCOMPARE(frmMain().size(), QSize(twipsToPixels(6705), twipsToPixels(6075)));
    QVERIFY(!(form_->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(form_->lblKill->text(), QStringLiteral("  Delete BMP"));
    QCOMPARE(form_->lblKill->toolTip(), form_->chkKill->toolTip());
    QVERIFY(form_->chkKill->text().isEmpty());
    QCOMPARE(frmMain().chkKill->checkState(), Qt::Unchecked);
    QCOMPARE(form_->lblTitle->text(), QStringLiteral("% Quality"));
    QCOMPARE(frmMain().lblTitle->pos(), twipsRect(5880, 120, 0, 0).topLeft());
    QCOMPARE(form_->List1->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(form_->File1->Pattern(), QStringLiteral("*.bmp"));
    QCOMPARE(form_->Timer1->interval(), 10);
    QVERIFY(form_->Timer1->isActive());

    const QFont title = form_->lblTittel[0]->font();
    QCOMPARE(title.family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(title.pointSizeF(), 13.5);
    QCOMPARE(title.weight(), QFont::Bold);
    QVERIFY(!form_->lblTittel[1]->font().bold());
    for (QLabel* l : form_->lblTittel) QVERIFY(l->alignment() & Qt::AlignHCenter);

    // The status strip is docked along the bottom, as wide as the window.
    QCOMPARE(form_->PicStatus->geometry().bottom(), form_->height() - 1);
    QCOMPARE(form_->PicStatus->width(), form_->width());
    QVERIFY(form_->lblStatus->autoFillBackground());
    // The background lies behind everything; the labels show it through.
    QCOMPARE(form_->children().indexOf(form_->ImgBakgrunn), 0);
    QVERIFY(!form_->lblKill->autoFillBackground());

    const QImage background(QStringLiteral(":/pictures/background.bmp"));
    QCOMPARE(background.size(), QSize(397, 281));
    QCOMPARE(background.format(), QImage::Format_Indexed8);
    const QImage picture(QStringLiteral(":/pictures/image1.png"));
    QCOMPARE(picture.size(), QSize(32, 32));
    QCOMPARE(picture.format(), QImage::Format_Indexed8);
    // Each size in 8-bit palette colour and in 32-bit colour.
    QCOMPARE(form_->windowIcon().availableSizes(), (QList<QSize>{QSize(16, 16), QSize(16, 16), QSize(32, 32), QSize(32, 32)}));
    for (const char* file : {"icon16_8bit.png", "icon32_8bit.png"})
        QCOMPARE(QImage(QStringLiteral(":/pictures/") + file).format(), QImage::Format_Indexed8);
}

void MainWindowTest::focusStartsOnTheFileListAndFollowsTheTabOrder() {
    QCOMPARE(QApplication::focusWidget(), form_->File1);
    form_->Timer1->stop();
    form_->cmdAddAll->setEnabled(true);
    // Convert and Remove List are disabled: Tab passes over them and over every label.
    const QList<QWidget*> order = {form_->Dir1,   form_->Drive1,    form_->List1,   form_->PicStatus,
                                   form_->cmdExit, form_->cmdAddAll, form_->chkKill, form_->txtQuality,
                                   form_->File1};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void MainWindowTest::accessKeysPressEnabledButtons() {
    QSignalSpy addAll(form_->cmdAddAll, &QPushButton::clicked);
    QSignalSpy convert(form_->cmdConvert, &QPushButton::clicked);
    QSignalSpy remove(form_->cmdRemoveAll, &QPushButton::clicked);
    form_->Timer1->stop();
    form_->cmdAddAll->setEnabled(true);
    QTest::keyClick(form_.get(), Qt::Key_A, Qt::AltModifier);
    QTRY_COMPARE(addAll.count(), 1);
    QTest::keyClick(form_.get(), Qt::Key_C, Qt::AltModifier);  // disabled: nothing
    QTest::keyClick(form_.get(), Qt::Key_R, Qt::AltModifier);
    QTest::qWait(200);
    QCOMPARE(convert.count(), 0);
    QCOMPARE(remove.count(), 0);

    form_->cmdRemoveAll->setEnabled(true);
    QTest::keyClick(form_.get(), Qt::Key_R, Qt::AltModifier);
    QTRY_COMPARE(remove.count(), 1);
    form_->cmdConvert->setEnabled(true);
    QTest::keyClick(form_.get(), Qt::Key_C, Qt::AltModifier);  // an empty run
    QTRY_COMPARE(convert.count(), 1);
    QCOMPARE(form_->lblStatus->text(), QStringLiteral("0 Converted successfully"));
}

void MainWindowTest::timerKeepsTheButtonsInStep() {
    // The working folder holds no bitmap yet, and nothing is queued.
    QTRY_VERIFY(!form_->cmdAddAll->isEnabled());
    QVERIFY(!form_->cmdConvert->isEnabled());
    QVERIFY(!form_->cmdRemoveAll->isEnabled());

    form_->List1->addItem(QStringLiteral("/somewhere/a.bmp"));
    QTRY_VERIFY(form_->cmdConvert->isEnabled());
    QVERIFY(form_->cmdRemoveAll->isEnabled());
    form_->List1->clear();
    QTRY_VERIFY(!form_->cmdConvert->isEnabled());
    QVERIFY(!form_->cmdRemoveAll->isEnabled());

    QFile bitmap(folder_.filePath("Picture.BMP"));
    QVERIFY(bitmap.open(QIODevice::WriteOnly));
    bitmap.close();
    form_->File1->Refresh();
    QCOMPARE(form_->File1->ListCount(), 1);
    QTRY_VERIFY(form_->cmdAddAll->isEnabled());
}

void MainWindowTest::aDisabledButtonHandsItsFocusToAList_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("emptied");
    QTest::addColumn<QString>("focus");
    // Not the next control: Exit, or the delete box, where a Space would act.
    QTest::newRow("Convert after a run") << "cmdConvert" << "List1" << "File1";
    QTest::newRow("Remove List after removing all") << "cmdRemoveAll" << "List1" << "File1";
    QTest::newRow("Add All, the folder emptied") << "cmdAddAll" << "File1" << "List1";
}

void MainWindowTest::aDisabledButtonHandsItsFocusToAList() {
    QFETCH(QString, button);
    QFETCH(QString, emptied);
    QFETCH(QString, focus);
    form_->File1->addItem(QStringLiteral("a.bmp"));
    form_->List1->addItem(QStringLiteral("/somewhere/a.bmp"));
    auto* pressed = form_->findChild<QPushButton*>(button);
    QTRY_VERIFY(pressed->isEnabled());
    pressed->setFocus();
    form_->findChild<QListWidget*>(emptied)->clear();
    QTRY_VERIFY(!pressed->isEnabled());
    QVERIFY(QApplication::focusWidget());
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
}

void MainWindowTest::exitClosesTheWindow() {
    QTest::mouseClick(form_->cmdExit, Qt::LeftButton);
    QVERIFY(!form_->isVisible());
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTest::keyClick(form_.get(), Qt::Key_E, Qt::AltModifier);
    QTRY_VERIFY(!form_->isVisible());
}

void MainWindowTest::everyMessageBoxOfARunIsCentredOnTheWindow() {
    // Two files that are no bitmaps: two boxes, the second after the first
    // has closed while the run still holds the thread.
    for (const char* name : {"x.bmp", "y.bmp"}) {
        QFile notABitmap(folder_.filePath(name));
        QVERIFY(notABitmap.open(QIODevice::WriteOnly));
        form_->List1->AddItem(notABitmap.fileName());
    }
    QList<QPoint> offsets;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&offsets, this] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            offsets << box->frameGeometry().center() - form_->frameGeometry().center();
            box->accept();
        }
    });
    answer.start(10);
    form_->cmdConvert_Click();
    QCOMPARE(offsets.size(), 2);
    for (const QPoint& offset : offsets)
        QVERIFY2(offset.manhattanLength() <= 4, qPrintable(QStringLiteral("off by %1,%2").arg(offset.x()).arg(offset.y())));
}

namespace {

// The room a control's style gives its text, and what the text takes.
QSize textRoom(QWidget* c) {
    QStyleOptionButton button;
    QStyleOptionComboBox box;
    QStyleOptionFrame frame;
    for (QStyleOption* o : std::initializer_list<QStyleOption*>{&button, &box, &frame}) o->initFrom(c);
    frame.lineWidth = c->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, c);
    if (qobject_cast<QPushButton*>(c)) return c->style()->subElementRect(QStyle::SE_PushButtonContents, &button, c).size();
    if (qobject_cast<QComboBox*>(c)) return c->style()->subControlRect(QStyle::CC_ComboBox, &box, QStyle::SC_ComboBoxEditField, c).size();
    if (qobject_cast<QLineEdit*>(c)) return c->style()->subElementRect(QStyle::SE_LineEditContents, &frame, c).size();
    return c->size();
}

QSize textSize(QWidget* c) {
    const QFontMetrics line(c->font());
    if (auto* l = qobject_cast<QLabel*>(c)) return l->wordWrap() ? QSize(0, l->heightForWidth(l->width())) : l->sizeHint();
    if (auto* b = qobject_cast<QPushButton*>(c)) return line.size(Qt::TextShowMnemonic, b->text());
    return qobject_cast<QComboBox*>(c) || qobject_cast<QLineEdit*>(c) ? QSize(0, line.height()) : QSize();
}

}  // namespace

// At the smallest width every text shows whole, inside its control and its
// window, and no controls overlap but where the design lays one over another.
// The suite runs this again at 144 dpi.
void MainWindowTest::textsShowWhole() {
    form_->resize(0, form_->height());
    QTRY_COMPARE(form_->width(), form_->minimumWidth());
    frmAbout about(form_.get());
    const QStringList designed = {"chkKill lblKill", "lblTitle lblCopyright", "lblCopyright lblComments",
                                  "lblTittel lblHomePage", "lblTittel lblEMail"};
    for (QWidget* window : {static_cast<QWidget*>(form_.get()), static_cast<QWidget*>(&about)}) {
        QList<QWidget*> controls;
        for (QWidget* c : window->findChildren<QWidget*>()) {
            auto* picture = qobject_cast<QLabel*>(c);
            if (c->objectName().startsWith("qt_") || !c->isVisibleTo(window) || (picture && !picture->pixmap().isNull()))
                continue;
            const QString name = c->objectName();
            QVERIFY2(textSize(c).boundedTo(textRoom(c)) == textSize(c), qPrintable(name + " clips its text"));
            QVERIFY2(c->parentWidget()->rect().contains(c->geometry()), qPrintable(name + " is not inside"));
            for (QWidget* other : controls) {
                const QString pair = other->objectName() + ' ' + name, reversed = name + ' ' + other->objectName();
                QVERIFY2(other->parentWidget() != c->parentWidget() || !other->geometry().intersects(c->geometry()) ||
                             designed.contains(pair) || designed.contains(reversed),
                         qPrintable(pair + ": overlap"));
            }
            controls << c;
        }
    }
}

QTEST_MAIN(MainWindowTest)
#include "tst_main_window.moc"
