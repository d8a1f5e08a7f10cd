// The main window as it is created, and its small handlers.
#include "frmMain.h"

#include "check_box.h"
#include "dir_list_box.h"
#include "drive_list_box.h"
#include "drives.h"
#include "file_list_box.h"
#include "form_runtime.h"
#include "list_box.h"
#include "twips.h"

#include <QCheckBox>
#include <QDir>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QTimer>
#include <utility>

namespace {

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QString& tip, double left) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(tip);
    b->setGeometry(twipsRect(left, 5160, 1215, 495));
    b->setAutoDefault(false);
    return b;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, const QRect& geometry) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geometry);
    l->setFocusPolicy(Qt::NoFocus);
    return l;
}

// The status line, which shows a focus frame while its strip has the focus
// (the strip takes the focus in the window's tab order).
class StatusLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        if (!parentWidget()->hasFocus()) return;
        QStylePainter painter(this);
        QStyleOptionFocusRect frame;
        frame.initFrom(this);
        frame.rect = rect();
        frame.state |= QStyle::State_KeyboardFocusChange;  // however the focus came
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, frame);
    }
};

QIcon programIcon() {
    QIcon icon;
    for (const char* file : {"icon16_8bit.png", "icon16_32bit.png", "icon32_8bit.png", "icon32_32bit.png"})
        icon.addFile(QStringLiteral(":/pictures/") + QLatin1String(file));
    return icon;
}

}  // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Pellicor"));
    setWindowIcon(programIcon());
    // Sizable, with system menu, close and minimize boxes, but no maximize box.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    resize(twipsToPixels(6705), twipsToPixels(6075));
    // The window manager holds the same shape as the resize handler: a fixed
    // height and a smallest width.
    setFixedHeight(twipsToPixels(6075));
    setMinimumWidth(twipsToPixels(6705));
    // The layout was drawn for an 8-point dialog font.
    QFont dialogFont = font();
    dialogFont.setPointSize(8);
    setFont(dialogFont);
    createControls();
    fitToText();
    setMsgBoxOwner(this);

    // The lists as the window is created: on the working folder, before any handler listens.
    try {
        rememberCurrentFolder(QDir::currentPath());
        Dir1->setPath(QDir::currentPath());
        File1->setPath(Dir1->Path());
        Drive1->setDrive(Dir1->Path());
    } catch (const RuntimeError&) {
        // No readable working folder: the lists stay empty until one is chosen.
    }

    connect(cmdConvert, &QPushButton::clicked, this, &frmMain::cmdConvert_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
    connect(cmdAddAll, &QPushButton::clicked, this, &frmMain::cmdAddAll_Click);
    connect(cmdRemoveAll, &QPushButton::clicked, this, &frmMain::cmdRemoveAll_Click);
    connect(File1, &FileListBox::DblClick, this, &frmMain::File1_DblClick);
    connect(List1, &ListBox::DblClick, this, &frmMain::List1_DblClick);
    connect(List1, &ListBox::OLEDragDrop, this, &frmMain::List1_OLEDragDrop);
    connect(List1, &ListBox::MouseMove, this, &frmMain::List1_MouseMove);
    // Keys: Delete in the list as Remove List, Enter in the quality box as
    // Convert (when it can be pressed), F1 for the About window.
    connect(List1, &ListBox::DeleteKey, this, &frmMain::cmdRemoveAll_Click);
    connect(txtQuality, &QLineEdit::returnPressed, this, [this] {
        if (cmdConvert->isEnabled()) cmdConvert->click();
    });
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this, &frmMain::Image1_Click);
    PicStatus->installEventFilter(this);
    // The status line's text is what a screen reader reads after its name.
    const auto describeStatus = [this](const QString& text) {
        for (QWidget* w : {static_cast<QWidget*>(PicStatus), static_cast<QWidget*>(lblStatus)}) w->setAccessibleDescription(text);
    };
    describeStatus(lblStatus->text());
    connect(this, &frmMain::statusWritten, this, describeStatus);
    // Direct connections: a change handler runs inside the set that raised it.
    connect(Drive1, &DriveListBox::Change, this, &frmMain::Drive1_Change, Qt::DirectConnection);
    connect(Dir1, &DirListBox::Change, this, &frmMain::Dir1_Change, Qt::DirectConnection);
    connect(Dir1, &DirListBox::Refused, this, &frmMain::Dir1_Refused);
    connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
    Timer1->start();
    // Labels and pictures have no click signal of their own.
    for (QWidget* clickable : {static_cast<QWidget*>(lblKill), static_cast<QWidget*>(Image1),
                               static_cast<QWidget*>(lblTittel[0]), static_cast<QWidget*>(lblTittel[1])})
        clickable->installEventFilter(this);
}

void frmMain::setStatus(const QString& text) {
    lblStatus->setText(text);
    emit statusWritten(text);
}

void frmMain::createControls() {
    // Created back to front: the background picture, then the picture and
    // labels drawn over it, then the controls above them.
    ImgBakgrunn = label(this, "ImgBakgrunn", QString(), twipsRect(0, 0, 6795, 5775));
    ImgBakgrunn->setPixmap(QPixmap(QStringLiteral(":/pictures/background.bmp")));
    ImgBakgrunn->setScaledContents(true);
    Image1 = label(this, "Image1", QString(), twipsRect(120, 120, 600, 600));
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/image1.png")));
    Image1->setScaledContents(true);

    lblTittel[0] = label(this, "lblTittel_0", QStringLiteral("Pellicor"), twipsRect(960, 120, 4755, 360));
    QFont titleFont(QStringLiteral("MS Sans Serif"));
    titleFont.setPointSizeF(13.5);
    titleFont.setWeight(QFont::Bold);
    lblTittel[0]->setFont(titleFont);
    lblTittel[1] = label(this, "lblTittel_1", QStringLiteral("Support for drag and drop files in list"),
                         twipsRect(960, 480, 4755, 255));
    for (QLabel* l : lblTittel) l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    const QString killTip = QStringLiteral(" Delete All BMP files after Finished Converting ");
    lblKill = label(this, "lblKill", QStringLiteral("  Delete BMP"), twipsRect(4305, 5310, 945, 195));
    lblKill->setToolTip(killTip);
    lblTitle = label(this, "lblTitle", QStringLiteral("% Quality"), twipsRect(5880, 120, 645, 195));

    File1 = new FileListBox(this);
    File1->setObjectName(QStringLiteral("File1"));
    File1->setGeometry(twipsRect(120, 2970, 2775, 2040));
    File1->setPattern(QStringLiteral("*.bmp"));
    Dir1 = new DirListBox(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setGeometry(twipsRect(120, 1200, 2775, 1665));
    Drive1 = new DriveListBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setGeometry(twipsRect(120, 840, 2775, 315));

    List1 = new ListBox(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twipsRect(3000, 840, 3615, 4155));
    List1->setSelectionMode(QAbstractItemView::ExtendedSelection);

    PicStatus = new QFrame(this);
    PicStatus->setObjectName(QStringLiteral("PicStatus"));
    PicStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    PicStatus->setFocusPolicy(Qt::StrongFocus);
    PicStatus->setGeometry(twipsRect(0, 5775, 6705, 300));
    lblStatus = new StatusLabel(QStringLiteral("Ready"), PicStatus);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setGeometry(twipsRect(80, 20, 6495, 255));
    lblStatus->setFocusPolicy(Qt::NoFocus);
    lblStatus->setAutoFillBackground(true);
    prgRun = new QProgressBar(PicStatus);
    prgRun->setObjectName(QStringLiteral("prgRun"));
    prgRun->setFocusPolicy(Qt::NoFocus);
    prgRun->setTextVisible(false);
    prgRun->hide();

    cmdConvert = button(this, "cmdConvert", QStringLiteral("&Convert"), QStringLiteral(" Start Converting "), 120);
    cmdConvert->setEnabled(false);
    cmdExit = button(this, "cmdExit", QStringLiteral("&Exit"), QStringLiteral("Exit"), 5400);
    cmdAddAll = button(this, "cmdAddAll", QStringLiteral("&Add All"), QStringLiteral(" Add All to list "), 1440);
    cmdRemoveAll = button(this, "cmdRemoveAll", QStringLiteral("&Remove List"),
                          QStringLiteral(" Remove Selected from list "), 2760);
    cmdRemoveAll->setEnabled(false);

    chkKill = new CheckBox(this);  // the box alone: lblKill is its caption
    chkKill->setObjectName(QStringLiteral("chkKill"));
    chkKill->setToolTip(killTip);
    chkKill->setGeometry(twipsRect(4120, 5320, 200, 200));

    txtQuality = new QLineEdit(QStringLiteral("75"), this);
    txtQuality->setObjectName(QStringLiteral("txtQuality"));
    txtQuality->setToolTip(QStringLiteral("Enter JPG Quality in %"));
    txtQuality->setGeometry(twipsRect(5880, 360, 735, 285));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(10);

    QWidget* order[] = {File1, Dir1, Drive1, List1, PicStatus, cmdConvert, cmdExit, cmdAddAll, cmdRemoveAll, chkKill, txtQuality};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    // What a screen reader says of each control: buttons by their captions,
    // the tooltips as descriptions, the background unnamed (decoration).
    for (QPushButton* b : {cmdConvert, cmdExit, cmdAddAll, cmdRemoveAll}) b->setAccessibleName(QString(b->text()).remove(QLatin1Char('&')));
    const std::pair<QWidget*, const char*> names[] = {
        {File1, "Bitmap files"}, {Dir1, "Folders"}, {Drive1, "Drives"}, {List1, "Conversion list"},
        {txtQuality, "JPEG quality in %"}, {chkKill, "Delete BMP files after converting"}, {lblKill, "Delete BMP"},
        {PicStatus, "Status"}, {lblStatus, "Status"}, {prgRun, "Conversion progress"}, {Image1, "About Pellicor"}};
    for (const auto& [control, name] : names) control->setAccessibleName(QLatin1String(name));
    // On Linux a drop-down box's accessible name is its selection; a label names it.
    QLabel* drives = label(this, "lblDrives", QStringLiteral("Drives"), Drive1->geometry());
    drives->setBuddy(Drive1);
    drives->hide();
    lblTitle->setBuddy(txtQuality);
    lblKill->setBuddy(chkKill);
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The status strip is docked to the bottom edge, as wide as the window.
    PicStatus->setGeometry(0, height() - PicStatus->height(), width(), PicStatus->height());
    Form_Resize();
}

void frmMain::showEvent(QShowEvent* event) {
    // Loading comes once, before the window first appears.
    if (!loaded_) {
        loaded_ = true;
        Form_Load();
    }
    QWidget::showEvent(event);
    if (!event->spontaneous()) File1->setFocus(Qt::OtherFocusReason);
}

void frmMain::closeEvent(QCloseEvent* event) {
    // A run ends only between files, and only when the user says so.
    if (converting_) {
        event->ignore();
        QTimer::singleShot(0, this, &frmMain::askToStop);
        return;
    }
    emit closing();
    Form_Unload();
    QWidget::closeEvent(event);
}

void frmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) Form_Resize();  // restored from minimized
}

void frmMain::Timer1_Timer() {
    const bool queued = List1->count() != 0;
    // Qt hands the focus of a button it disables to the next control: Exit,
    // where a stray Space quits, or the delete box, where it arms deletion.
    // A list takes it instead.
    const auto enable = [this, queued](QPushButton* button, bool enabled) {
        if (!enabled && focusWidget() == button) {
            QWidget* list = queued ? static_cast<QWidget*>(List1) : File1;
            list->setFocus(Qt::OtherFocusReason);
        }
        button->setEnabled(enabled);
    };
    // During a run they would do nothing: they look it.
    enable(cmdConvert, queued && !converting_);
    enable(cmdRemoveAll, queued && !converting_);
    enable(cmdAddAll, File1->ListCount() != 0 && !converting_);
}
