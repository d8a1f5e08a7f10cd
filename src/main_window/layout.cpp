// The window's geometry in twips, and the layout that follows its width.
#include "frmMain.h"
#include "list_box.h"
#include "twips.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// The classic frame: 5-pixel borders and a 22-pixel title bar. Positions go
// through the client area too, which Qt places the same way before and after
// the window manager has framed the window.
constexpr int kFrameWidth = 10;
constexpr int kFrameHeight = 27;
constexpr int kFrameLeft = 5;
constexpr int kFrameTop = 22;

constexpr double kOuterHeight = 6480;
constexpr double kMinimumOuterWidth = 6855;

void setLeftEdge(QWidget* w, double twips) { w->move(twipsToPixels(twips), w->y()); }
void setWidthOf(QWidget* w, double twips) { w->resize(twipsToPixels(twips), w->height()); }

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

void frmMain::Form_Resize() {
    if (WindowState() != 0) return;  // a minimized window keeps its layout
    // Disabling the window below takes the focus away; it comes back after.
    QWidget* focus = focusWidget();
    if (Height() != kOuterHeight) {
        setHeight(kOuterHeight);
        setEnabled(false);
    }
    if (Width() < kMinimumOuterWidth) {
        setWidth(kMinimumOuterWidth);
        setEnabled(false);
    }
    setWidthOf(ImgBakgrunn, Width());
    setLeftEdge(cmdExit, Width() - 1440);
    setLeftEdge(txtQuality, Width() - 1000);
    setLeftEdge(lblTitle, Width() - 1000);
    setWidthOf(List1, Width() - 3240);
    setWidthOf(lblTittel[0], Width() - 2000);
    setWidthOf(lblTittel[1], Width() - 2000);
    setEnabled(true);
    if (focus && !focusWidget()) focus->setFocus();
}
