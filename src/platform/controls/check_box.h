// A check box as the window's code knows it: a click toggles between checked
// and unchecked. Only the program grays it (a stored setting can), and a
// click on a grayed box clears it, as a click on its caption does.
#pragma once

#include <QCheckBox>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <algorithm>

class CheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override { setCheckState(checkState() == Qt::Unchecked ? Qt::Checked : Qt::Unchecked); }

    // The box alone, drawn to the control's size: the style's own box may be
    // larger than the design's and would lose its outline.
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionButton box;
        initStyleOption(&box);
        const int side = std::min(width(), height());
        box.rect = QRect(0, (height() - side) / 2, side, side);
        painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, box);
        if (box.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(box);
            focus.rect = box.rect.adjusted(1, 1, -1, -1);
            painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
        }
    }
};
