// The main window's own behaviour: buttons kept in step with the lists, the
// focus a disabled button hands on, the small commands, boxes centred over
// the window, and texts that show whole at any font resolution.
#include "Registry.h"
#include "frmAbout.h"
#include "frmMain.h"
#include "gui_session.h"
#include "dir_list_box.h"
#include "drive_list_box.h"
#include "list_box.h"
#include "file_list_box.h"
#include "form_runtime.h"
#include "test_hooks.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        session_ = std::make_unique<GuiSession>();
        form_ = &session_->show();
    }
    void cleanup() { session_.reset(); }
    void timerKeepsTheButtonsInStep();
    void aDisabledButtonHandsItsFocusToAList_data();
    void aDisabledButtonHandsItsFocusToAList();
    void deleteOptionTogglesAndIsNeverGrayedByAClick();
    void iconAndTitlesOpenTheAboutWindow();
    void exitClosesAndSavesTheSettings();
    void textsShowWhole();
    void listsKeepTheirRows_data();
    void listsKeepTheirRows();
    void listsFrameTheirFocus_data();
    void listsFrameTheirFocus();
    void controlsHaveAccessibleNames();
    void aBoxTakesOnlyKeysPressedWhileItIsUp_data();
    void aBoxTakesOnlyKeysPressedWhileItIsUp();

private:
    std::unique_ptr<GuiSession> session_;
    frmMain* form_ = nullptr;
};

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

    session_->touch("Picture.BMP");
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

void MainWindowTest::deleteOptionTogglesAndIsNeverGrayedByAClick() {
    // The label and the box alike: a grayed box (a stored setting) clears, and is never grayed again.
    for (QWidget* clicked : {static_cast<QWidget*>(form_->lblKill), static_cast<QWidget*>(form_->chkKill)}) {
        form_->chkKill->setCheckState(Qt::PartiallyChecked);
        for (Qt::CheckState expected : {Qt::Unchecked, Qt::Checked, Qt::Unchecked}) {
            click(clicked);
            QCOMPARE(form_->chkKill->checkState(), expected);
        }
    }
}

void MainWindowTest::iconAndTitlesOpenTheAboutWindow() {
    click(form_->Image1);
    click(form_->lblTittel[0]);
    click(form_->lblTittel[1]);
    QCOMPARE(session_->abouts, (QList<QWidget*>{form_, form_, form_}));

    // The real window is modal: the main window takes no input while it is open.
    setAboutHook({});
    QTimer::singleShot(100, [this] {
        auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        QVERIFY(about);
        QVERIFY(about->isModal());
        QVERIFY(QApplication::activeModalWidget() != form_);
        about->cbOK->click();
    });
    form_->Image1_Click();
    QVERIFY(!QApplication::activeModalWidget());
}

void MainWindowTest::exitClosesAndSavesTheSettings() {
    form_->txtQuality->setText(QStringLiteral("64"));
    QTest::mouseClick(form_->cmdExit, Qt::LeftButton);
    QVERIFY(!form_->isVisible());
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, "Software\\Corvane\\Pellicor\\Main", "Quality", "75"), QVariant("64"));
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
// The suite runs this again at 120, 144 and 192 dpi.
void MainWindowTest::textsShowWhole() {
    form_->resize(0, form_->height());
    QTRY_COMPARE(form_->width(), form_->minimumWidth());
    frmAbout about(form_);
    const QStringList designed = {"chkKill lblKill", "lblTitle lblCopyright", "lblCopyright lblComments",
                                  "lblTittel lblHomePage", "lblTittel lblEMail"};
    for (QWidget* window : {static_cast<QWidget*>(form_), static_cast<QWidget*>(&about)}) {
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
    // "% Quality" and its box keep a margin from the window's right edge.
    for (QWidget* c : {static_cast<QWidget*>(form_->lblTitle), static_cast<QWidget*>(form_->txtQuality)})
        QVERIFY2(c->geometry().right() + 2 < form_->width(), qPrintable(c->objectName() + " touches the edge"));
}

void MainWindowTest::listsKeepTheirRows_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("rows");  // whole rows at 96 dpi
    QTest::newRow("folders") << "Dir1" << 6;
    QTest::newRow("files") << "File1" << 10;
    QTest::newRow("conversion list") << "List1" << 21;
}

// At any font resolution a list shows the whole rows it shows at 96 dpi, and
// the window fits its screen; on a screen too low for that the rows give way.
void MainWindowTest::listsKeepTheirRows() {
    QFETCH(QString, list);
    QFETCH(int, rows);
    for (int i = 10; i < 50; ++i) form_->List1->addItem(session_->touch(QString("picture %1.bmp").arg(i)));
    form_->Dir1->setPath("/");  // short names, none too wide for the list
    form_->File1->setPath(session_->dir.path());
    auto* shown = form_->findChild<QListWidget*>(list);
    int whole = 0;
    for (int row = 0; row < shown->count(); ++row) {
        const QRect at = shown->visualItemRect(shown->item(row));
        whole += at.top() >= 0 && at.bottom() < shown->viewport()->height();
    }
    const QRect screen = form_->screen()->availableGeometry();
    QVERIFY(screen.contains(form_->frameGeometry()));
    if (form_->height() + 27 < screen.height()) QCOMPARE_GE(whole, rows);
}

void MainWindowTest::listsFrameTheirFocus_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("empty");
    QTest::newRow("folders") << "Dir1" << false;
    QTest::newRow("files") << "File1" << false;
    QTest::newRow("conversion list") << "List1" << false;
    QTest::newRow("empty conversion list") << "List1" << true;
}

// A list with the focus frames its current row (or, empty, its inside),
// though the focus came by the mouse, and only while it has the focus.
void MainWindowTest::listsFrameTheirFocus() {
    QFETCH(QString, list);
    QFETCH(bool, empty);
    session_->touch("a.bmp");
    form_->File1->Refresh();
    if (!empty) form_->List1->addItem(session_->file("a.bmp"));
    auto* shown = form_->findChild<QListWidget*>(list);
    QTest::mouseClick(shown->viewport(), Qt::LeftButton, {}, empty ? QPoint(40, 100) : QPoint(40, 5));
    QVERIFY(shown->hasFocus());
    const QRect frame = empty ? shown->viewport()->rect() : shown->visualItemRect(shown->currentItem());
    QVERIFY(frame.isValid());
    const QImage focused = shown->viewport()->grab().toImage();
    form_->txtQuality->setFocus(Qt::MouseFocusReason);
    const QImage unfocused = shown->viewport()->grab().toImage();
    int framed = 0;
    for (int x = frame.left(); x < std::min(frame.right(), focused.width()); ++x) framed += focused.pixel(x, frame.top()) != unfocused.pixel(x, frame.top());
    QVERIFY2(framed > frame.width() / 4, qPrintable(QString::number(framed)));
}

// A screen reader reads every control by its name and kind.
void MainWindowTest::controlsHaveAccessibleNames() {
    const std::tuple<QWidget*, QString, QAccessible::Role> controls[] = {
        {form_->cmdConvert, "Convert", QAccessible::Button}, {form_->cmdExit, "Exit", QAccessible::Button},
        {form_->cmdAddAll, "Add All", QAccessible::Button}, {form_->cmdRemoveAll, "Remove List", QAccessible::Button},
        {form_->Dir1, "Folders", QAccessible::List}, {form_->File1, "Bitmap files", QAccessible::List},
        {form_->Drive1, "Drives", QAccessible::ComboBox}, {form_->List1, "Conversion list", QAccessible::List},
        {form_->txtQuality, "JPEG quality in %", QAccessible::EditableText},
        {form_->chkKill, "Delete BMP files after converting", QAccessible::CheckBox},
        {form_->lblStatus, "Status", QAccessible::StaticText}};
    for (const auto& [control, name, role] : controls) {
        const QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(control);
        // A drop-down box's name is its selection on Linux; a label relation names it.
        const auto labels = reader->relations(QAccessible::Label);
        const bool box = qobject_cast<QComboBox*>(control);
        QCOMPARE((box && !labels.isEmpty() ? labels.first().first : reader)->text(QAccessible::Name), name);
        QCOMPARE(reader->role(), role);
    }
    form_->setStatus(QStringLiteral("3 Added successfully"));  // and the status line's text after its name
    QCOMPARE(QAccessible::queryAccessibleInterface(form_->lblStatus)->text(QAccessible::Description), QStringLiteral("3 Added successfully"));
}

void MainWindowTest::aBoxTakesOnlyKeysPressedWhileItIsUp_data() {
    // R: a Return released, A: auto-repeated, P: pressed and released, E: Escape so,
    // W: a wait past the box's first moments
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("answer");  // 0: the box is still up after them
    QTest::newRow("release of an earlier press") << "WR" << vbExclamation << 0;
    QTest::newRow("auto-repeat of an earlier press") << "WAR" << vbExclamation << 0;
    QTest::newRow("a press as it comes up") << "P" << vbExclamation << 0;
    QTest::newRow("its own press") << "WP" << vbExclamation << vbOK;
    QTest::newRow("stop question: Return is No") << "WP" << (vbYesNo | vbDefaultButton2) << vbNo;
    QTest::newRow("stop offer: Return is Yes") << "WRP" << vbYesNo << vbYes;
    QTest::newRow("Escape is No") << "WE" << vbYesNo << vbNo;
}

void MainWindowTest::aBoxTakesOnlyKeysPressedWhileItIsUp() {
    QFETCH(QString, keys);
    QFETCH(int, style);
    QFETCH(int, answer);
    setMsgBoxHook({});
    bool up = false;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        QVERIFY(box && QTest::qWaitForWindowActive(box));
        QTRY_VERIFY(box->isActiveWindow());
        const auto send = [box](QEvent::Type type, int key, bool repeat) {
            QKeyEvent event(type, key, Qt::NoModifier, QString(), repeat);
            QCoreApplication::sendEvent(box->windowHandle(), &event);
        };
        for (const QChar c : keys) {
            const int key = c == 'E' ? Qt::Key_Escape : Qt::Key_Return;
            if (c == 'W') QTest::qWait(500);
            else if (c != 'R') send(QEvent::KeyPress, key, c == 'A');
            if (c != 'A' && c != 'W') send(QEvent::KeyRelease, key, false);
        }
        if ((up = box->isVisible())) QTest::qWait(500), send(QEvent::KeyPress, Qt::Key_Escape, false), send(QEvent::KeyRelease, Qt::Key_Escape, false);
    });
    const int got = MsgBox(QStringLiteral("Cannot save file x.jpg"), style, QStringLiteral("Err encountered!"));
    QCOMPARE(up ? 0 : got, answer);
}

QTEST_MAIN(MainWindowTest)
#include "tst_main_window.moc"
