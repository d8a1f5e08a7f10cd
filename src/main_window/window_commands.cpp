// The window's small commands: Exit, the delete option's label, and the
// icon and title labels that open the About window.
#include "frmAbout.h"
#include "frmMain.h"

#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>

void frmMain::cmdExit_Click() { close(); }  // closing unloads: the settings are saved

void frmMain::lblKill_Click() {
    // Checked or grayed becomes unchecked; unchecked becomes checked.
    chkKill->setCheckState(chkKill->checkState() == Qt::Unchecked ? Qt::Checked : Qt::Unchecked);
}

void frmMain::Image1_Click() { ShowAboutWindow(this); }

void frmMain::lblTittel_Click(int) { ShowAboutWindow(this); }

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == PicStatus && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        lblStatus->update();  // its focus frame
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto* widget = static_cast<QWidget*>(watched);
        if (mouse->button() == Qt::LeftButton && widget->rect().contains(mouse->position().toPoint())) {
            if (watched == lblKill) lblKill_Click();
            if (watched == Image1) Image1_Click();
            if (watched == lblTittel[0]) lblTittel_Click(0);
            if (watched == lblTittel[1]) lblTittel_Click(1);
        }
    }
    return QWidget::eventFilter(watched, event);
}
