// The window's geometry in twips, and the layout that follows its width.
#include "dir_list_box.h"
#include "drive_list_box.h"
#include "file_list_box.h"
#include "fit_to_text.h"
#include "frmMain.h"
#include "list_box.h"
#include "twips.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace {

// The classic frame: 5-pixel borders and a 22-pixel title bar. Positions go
// through the client area too, which Qt places the same way before and after
// the window manager has framed the window.
constexpr int kFrameWidth = 10;
constexpr int kFrameHeight = 27;
constexpr int kFrameLeft = 5;
constexpr int kFrameTop = 22;

void setLeftEdge(QWidget* w, double twips) { w->move(twipsToPixels(twips), w->y()); }
void setWidthOf(QWidget* w, double twips) { w->resize(twipsToPixels(twips), w->height()); }
void moveBy(QWidget* w, int dx, int dy) { w->move(w->pos() + QPoint(dx, dy)); }

}  // namespace

double frmMain::Left() const { return pixelsToTwips(geometry().x() - kFrameLeft); }
double frmMain::Top() const { return pixelsToTwips(geometry().y() - kFrameTop); }
double frmMain::Width() const { return pixelsToTwips(width() + kFrameWidth); }
double frmMain::Height() const { return pixelsToTwips(height() + kFrameHeight); }
void frmMain::setLeft(double twips) {
    setGeometry(twipsToPixels(twips) + kFrameLeft, geometry().y(), width(), height());
}
void frmMain::setTop(double twips) {
    setGeometry(geometry().x(), twipsToPixels(twips) + kFrameTop, width(), height());
}
void frmMain::setWidth(double twips) { resize(std::max(1, twipsToPixels(twips) - kFrameWidth), height()); }
void frmMain::setHeight(double twips) { resize(width(), std::max(1, twipsToPixels(twips) - kFrameHeight)); }

int frmMain::WindowState() const {
    if (isMinimized()) return 1;
    if (isMaximized()) return 2;
    return 0;
}

// The design is drawn for a 96-dpi font. At a larger font resolution each
// control grows to show its text whole and pushes what follows it: down the
// window, and right along the row of buttons. The lists grow with the font,
// so that they show the design's rows and names. The window's height and its
// smallest width grow with them; at 96 dpi nothing moves.
void frmMain::fitToText() {
    const double scale = fontScale(this);
    const double listWidth = minimumOuterWidth_ - listOffset_;  // the conversion list's at the smallest width

    // The header: the subtitle under the title, the quality box under its caption.
    const int title = growFitToText(lblTittel[0]).height();
    moveBy(lblTittel[1], 0, title);
    const int underTitles = title + growFitToText(lblTittel[1]).height();
    const int caption = growFitToText(lblTitle).height();
    moveBy(txtQuality, 0, caption);
    const int header = std::max(underTitles, caption + growFitToText(txtQuality).height());

    // The row of buttons: each grows and moves the ones after it right; Exit,
    // held at the right edge, grows leftwards. The check box and its caption
    // stay centred on the buttons.
    const std::initializer_list<QWidget*> row{cmdConvert, cmdAddAll, cmdRemoveAll, chkKill, lblKill};
    int right = 0, taller = 0;
    for (QWidget* w : row) {
        moveBy(w, right, 0);
        const QSize grown = growFitToText(w);
        right += grown.width();
        if (qobject_cast<QPushButton*>(w))
            taller = std::max(taller, grown.height());
        else
            moveBy(w, 0, -grown.height() / 2);
    }
    exitOffset_ += pixelsToTwips(growFitToText(cmdExit).width());
    moveBy(chkKill, 0, taller / 2);
    moveBy(lblKill, 0, taller / 2);
    const int status = growFitToText(lblStatus).height();

    // The browsers, as wide as the font is large, and the conversion list
    // beside them, reaching as low as they do. The lists grow by the rows'
    // growth unless the screen is too low for that: then they give way, and
    // every other control still shows whole.
    const int wider = scaledLength(Dir1->width(), scale) - Dir1->width();
    for (QWidget* w : {static_cast<QWidget*>(Drive1), static_cast<QWidget*>(Dir1), static_cast<QWidget*>(File1)})
        w->resize(w->width() + wider, w->height());
    moveBy(List1, wider, 0);
    listOffset_ += pixelsToTwips(wider);
    const int drive = growFitToText(Drive1).height();
    int folders = rowsGrowth(Dir1, scale);
    const int wanted = folders + rowsGrowth(File1, scale);
    int body = std::max(drive + wanted, rowsGrowth(List1, scale));
    if (const QScreen* shown = screen()) {
        const int room = shown->availableGeometry().height() - twipsToPixels(outerHeight_) - header - taller - status;
        body = std::clamp(room, drive, body);
    }
    if (body < drive + wanted) folders = folders * (body - drive) / wanted;
    for (QWidget* w : {static_cast<QWidget*>(Drive1), static_cast<QWidget*>(Dir1), static_cast<QWidget*>(File1),
                       static_cast<QWidget*>(List1)})
        moveBy(w, 0, header);
    moveBy(Dir1, 0, drive);
    Dir1->resize(Dir1->width(), Dir1->height() + folders);
    moveBy(File1, 0, drive + folders);
    File1->resize(File1->width(), File1->height() + body - drive - folders);
    List1->resize(List1->width(), List1->height() + body);

    // The buttons under them, the status strip under the buttons, as tall as its line needs.
    const int above = header + body;
    for (QWidget* w : row) moveBy(w, 0, above);
    moveBy(cmdExit, 0, above);
    const int below = above + taller;
    PicStatus->setGeometry(PicStatus->geometry().adjusted(0, below, 0, below + status));
    ImgBakgrunn->resize(ImgBakgrunn->width(), ImgBakgrunn->height() + below);
    outerHeight_ += pixelsToTwips(below + status);

    // "% Quality" and its box stay inside the window's right edge (the outer
    // width less the frame); the titles give way to them. Their margin is what
    // the column leaves at 96 dpi (two pixels at least), grown with the font.
    const int column = std::max(lblTitle->width(), txtQuality->width());
    const double designMargin = qualityOffset_ - pixelsToTwips(kFrameWidth) - pixelsToTwips(column) / scale;
    const double margin = std::max(pixelsToTwips(2), designMargin) * scale;
    const double shift = std::max(0.0, pixelsToTwips(column + kFrameWidth) + margin - qualityOffset_);
    qualityOffset_ += shift;
    titleOffset_ += shift;
    // The smallest width keeps Exit clear of the delete box's caption, the
    // titles whole and the conversion list as wide as the font is large.
    double smallest = std::max(minimumOuterWidth_, pixelsToTwips(lblKill->geometry().right() + 1) + exitOffset_);
    for (QLabel* t : lblTittel) smallest = std::max(smallest, titleOffset_ + pixelsToTwips(textNeed(t).width()));
    smallest = std::max(smallest, listOffset_ + listWidth * scale);
    minimumOuterWidth_ = pixelsToTwips(static_cast<int>(std::ceil(smallest / kTwipsPerPixel - 1e-9)));
    setFixedHeight(twipsToPixels(outerHeight_) - kFrameHeight);
    setMinimumWidth(twipsToPixels(minimumOuterWidth_) - kFrameWidth);
}

void frmMain::Form_Resize() {
    if (WindowState() == 1) return;  // a minimized window keeps its layout
    // Disabling the window below takes the focus away; it comes back after.
    QWidget* focus = focusWidget();
    // Maximized, the window manager sets the size; the layout follows it all the same.
    const bool normal = WindowState() == 0;
    if (normal && Height() != outerHeight_) {
        setHeight(outerHeight_);
        setEnabled(false);
    }
    if (normal && Width() < minimumOuterWidth_) {
        setWidth(minimumOuterWidth_);
        setEnabled(false);
    }
    setWidthOf(ImgBakgrunn, Width());
    setLeftEdge(cmdExit, Width() - exitOffset_);
    setLeftEdge(txtQuality, Width() - qualityOffset_);
    setLeftEdge(lblTitle, Width() - qualityOffset_);
    setWidthOf(List1, Width() - listOffset_);
    setWidthOf(lblTittel[0], Width() - titleOffset_);
    setWidthOf(lblTittel[1], Width() - titleOffset_);
    setEnabled(true);
    if (focus && !focusWidget()) focus->setFocus();
}
