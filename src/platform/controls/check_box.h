// A check box as the window's code knows it: a click toggles between checked
// and unchecked. Only the program grays it (a stored setting can), and a
// click on a grayed box clears it, as a click on its caption does.
#pragma once

#include <QCheckBox>

class CheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override { setCheckState(checkState() == Qt::Unchecked ? Qt::Checked : Qt::Unchecked); }
};
