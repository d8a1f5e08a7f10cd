#include "frmAbout.h"
#include "test_hooks.h"

#include "fit_to_text.h"
#include "shell.h"
#include "twips.h"
#include "version_info.h"

#include <QFrame>
#include <QLabel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QUrl>

namespace {

AboutHook& aboutHook() {
    static AboutHook hook;
    return hook;
}

// A link: a label that takes the focus by Tab and then shows it framed.
class LinkLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        if (!hasFocus()) return;
        QStylePainter painter(this);
        QStyleOptionFocusRect frame;
        frame.initFrom(this);
        frame.state |= QStyle::State_KeyboardFocusChange;  // however the focus came
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, frame);
    }
};

QLabel* label(QWidget* parent, const char* name, const QString& caption, const QRect& geometry, double points,
              bool link = false) {
    auto* l = link ? new LinkLabel(caption, parent) : new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geometry);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(points);
    l->setFont(font);
    return l;
}

QLabel* picture(QWidget* parent, const char* name, const char* resource, const QRect& geometry) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geometry);
    l->setPixmap(QPixmap(QStringLiteral(":/pictures/") + QLatin1String(resource)));
    l->setScaledContents(true);
    return l;
}

// Dark blue, bold, underlined, with the hand pointer.
void linkLook(QLabel* link, const QString& tip) {
    QFont font = link->font();
    font.setBold(true);
    font.setUnderline(true);
    link->setFont(font);
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 192));
    link->setPalette(palette);
    link->setCursor(QCursor(QPixmap(QStringLiteral(":/pictures/hand.png")), 5, 0));
    link->setToolTip(tip);
    link->setFocusPolicy(Qt::TabFocus);
    link->setAccessibleDescription(tip);
    link->adjustSize();
}

}  // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    // A fixed dialog: no resizing, no minimize or maximize box.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twipsToPixels(7395), twipsToPixels(3165));
    setAttribute(Qt::WA_DeleteOnClose, false);
    createControls();
    connect(cbOK, &QPushButton::clicked, this, &frmAbout::cbOK_Click);
    Form_Load();
    fitToText();
}

void frmAbout::createControls() {
    Image2 = picture(this, "Image2", "background.bmp", twipsRect(0, 0, 7515, 3255));
    const QString invitation = QStringLiteral("Visit Corvane's home page for more free tools.");
    picLogo = picture(this, "picLogo", "logo.jpg", twipsRect(240, 240, 2025, 1830));
    picLogo->setFrameStyle(QFrame::Box | QFrame::Plain);
    picLogo->setToolTip(invitation);
    picLogo->setFocusPolicy(Qt::TabFocus);
    picLogo2 = picture(this, "picLogo2", "logo_pressed.jpg", twipsRect(240, 240, 2025, 1830));
    picLogo2->setFrameStyle(QFrame::Box | QFrame::Plain);
    picLogo2->setToolTip(invitation);
    picLogo2->hide();
    picLogo->installEventFilter(this);
    picLogo2->installEventFilter(this);

    lblTitle = label(this, "lblTitle", QString(), twipsRect(2400, 240, 3735, 495), 13.5);
    QFont title = lblTitle->font();
    title.setBold(true);
    lblTitle->setFont(title);
    lblCopyright = label(this, "lblCopyright", QString(), twipsRect(2400, 600, 3735, 735), 8.25);
    lblComments = label(this, "lblComments", QString(), twipsRect(2400, 1320, 4815, 975), 9.75);
    lblComments->setWordWrap(true);
    lblComments->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1 = picture(this, "Image1", "image1.png", twipsRect(6480, 360, 600, 600));

    Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Frame1->setGeometry(twipsRect(240, 2520, 6975, 40));

    lblTittel = label(this, "lblTittel", QStringLiteral("Go to Corvane's Freewarepage                    or "),
                      twipsRect(240, 2760, 5775, 255), 8.25);
    lblHomePage = label(this, "lblHomePage", QStringLiteral("WebSite"), twipsRect(2280, 2760, 735, 195), 8.25, true);
    linkLook(lblHomePage, version_info::HomePage);
    lblEMail = label(this, "lblEMail", QStringLiteral("Email me"), twipsRect(3360, 2760, 765, 195), 8.25, true);
    linkLook(lblEMail, version_info::MailAddress);
    lblHomePage->installEventFilter(this);
    lblEMail->installEventFilter(this);
    // The links sit in the gap of the caption and after its "or ", wherever
    // this desktop's font puts those (its letters are wider than the design's).
    const QFontMetrics line(lblTittel->font());
    const QString caption = lblTittel->text();
    const int gap = static_cast<int>(caption.indexOf(QStringLiteral("  ")));
    lblHomePage->move(lblTittel->x() + line.horizontalAdvance(caption.left(gap + 1)), lblHomePage->y());
    lblEMail->move(lblTittel->x() + line.horizontalAdvance(caption), lblEMail->y());

    cbOK = new QPushButton(QStringLiteral("OK"), this);
    cbOK->setObjectName(QStringLiteral("cbOK"));
    cbOK->setGeometry(twipsRect(6240, 2640, 975, 375));
    QFont ok(QStringLiteral("MS Sans Serif"));
    ok.setPointSizeF(8.25);
    cbOK->setFont(ok);
    cbOK->setDefault(true);  // Enter presses it; Esc rejects the dialog, which closes it the same way
    // Tab goes from OK to the logo and the links; Enter or Space on a link opens it.
    setTabOrder(cbOK, picLogo);
    setTabOrder(picLogo, lblHomePage);
    setTabOrder(lblHomePage, lblEMail);
    picLogo->setAccessibleName(QStringLiteral("Corvane logo"));
    for (QLabel* decoration : {Image2, picLogo2, Image1}) decoration->setAccessibleName(QString());
    cbOK->setFocus();
}

// The design is drawn for a 96-dpi font. At a larger font resolution the
// texts grow: title, copyright and comments push one another, the rule and
// the bottom line down; OK moves right of the links, with the picture above
// it; the window grows to hold them.
void frmAbout::fitToText() {
    int down = 0;
    for (QLabel* text : {lblTitle, lblCopyright, lblComments}) {
        text->move(text->x(), text->y() + down);
        down += growFitToText(text).height();
    }
    const QList<QWidget*> bottomLine = {lblTittel, lblHomePage, lblEMail, cbOK};
    int bottom = 0;
    for (QWidget* w : bottomLine) bottom = std::max(bottom, w->geometry().bottom());
    for (QWidget* w : bottomLine + QList<QWidget*>{Frame1}) w->move(w->x(), w->y() + down);
    for (QWidget* w : bottomLine) growFitToText(w);
    for (QWidget* w : bottomLine) down = std::max(down, w->geometry().bottom() - bottom);
    // OK keeps the window's margin from the mail link.
    const int right = std::max(0, lblEMail->geometry().right() + 1 + picLogo->x() - cbOK->x());
    for (QWidget* w : {static_cast<QWidget*>(cbOK), static_cast<QWidget*>(Image1)}) w->move(w->x() + right, w->y());
    Frame1->resize(Frame1->width() + right, Frame1->height());
    Image2->resize(Image2->size() + QSize(right, down));
    setFixedSize(size() + QSize(right, down));
}

void frmAbout::Form_Load() {
    setWindowTitle(QStringLiteral("About "));
    lblTitle->setText(version_info::TitleWithVersion);
    QString copyright = version_info::LegalCopyright;
    copyright.replace(QStringLiteral("\\n"), QStringLiteral("\r\n"));
    copyright.replace(QStringLiteral("(c)"), QStringLiteral("\u00A9"));
    lblCopyright->setText(copyright);
    lblComments->setText(version_info::Comments);
    QFont arial = lblTitle->font();
    arial.setFamily(QStringLiteral("Arial"));
    lblTitle->setFont(arial);
}

void frmAbout::cbOK_Click() { accept(); }

void frmAbout::lblHomePage_Click() {
    ShellExecuteA(this, "open", lblHomePage->toolTip().toLocal8Bit().constData(), "", "", SW_SHOW);
}

void frmAbout::lblEMail_Click() {
    // The subject is percent-encoded, so that the mail program gets exactly the title's text.
    const QString address = QStringLiteral("mailto:") + version_info::MailAddress + QStringLiteral("?subject=") +
                            QString::fromLatin1(QUrl::toPercentEncoding(lblTitle->text()));
    ShellExecuteA(this, "open", address.toLocal8Bit().constData(), nullptr, "/", SW_SHOW);
}

void frmAbout::picLogo_MouseDown() {
    picLogo2->setVisible(true);
    picLogo->setVisible(false);
}

void frmAbout::picLogo_MouseUp() {
    picLogo->setVisible(true);
    picLogo2->setVisible(false);
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress && watched == picLogo) {
        picLogo_MouseDown();
        // The release must come back although the logo is hidden now.
        picLogo2->grabMouse();
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease && (watched == picLogo2 || watched == picLogo)) {
        if (picLogo2->isVisible()) {
            picLogo2->releaseMouse();
            picLogo_MouseUp();
        }
        return true;
    }
    if (event->type() == QEvent::KeyPress && (watched == lblHomePage || watched == lblEMail)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            watched == lblHomePage ? lblHomePage_Click() : lblEMail_Click();
            return true;  // not the default button's Enter
        }
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        auto* link = static_cast<QWidget*>(watched);
        if (mouse->button() == Qt::LeftButton && link->rect().contains(mouse->position().toPoint())) {
            if (watched == lblHomePage) lblHomePage_Click();
            if (watched == lblEMail) lblEMail_Click();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ShowAboutWindow(QWidget* owner) {
    if (aboutHook()) {
        aboutHook()(owner);
        return;
    }
    frmAbout about(owner);  // loaded afresh at every opening
    about.exec();
}

AboutHook setAboutHook(AboutHook hook) { return std::exchange(aboutHook(), std::move(hook)); }
