#include "drive_list_box.h"

#include "drives.h"
#include "form_runtime.h"

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent) {
    listDrives();
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        if (!filling_) emit Change();
    });
}

bool DriveListBox::listDrives() {
    const QString selected = currentData().toString();
    filling_ = true;
    clear();
    for (const DriveInfo& drive : drives()) addItem(drive.text(), drive.root);
    const int again = findData(selected);
    setCurrentIndex(again >= 0 ? again : -1);
    filling_ = false;
    return again >= 0 || selected.isEmpty();
}

void DriveListBox::setDrive(const QString& text) {
    int index = findText(text);
    if (index < 0) {
        DriveInfo holder;
        if (driveOf(text, &holder)) index = findData(holder.root);
        if (index < 0) {
            // The drive may have been mounted since the list was filled.
            listDrives();
            if (driveOf(text, &holder)) index = findData(holder.root);
        }
    }
    if (index < 0) throw RuntimeError{errDeviceUnavailable, QStringLiteral("Device unavailable")};
    setCurrentIndex(index);  // raises Change only when the selection moves
}

void DriveListBox::showPopup() {
    if (!listDrives()) {
        emit Change();
        return;
    }
    QComboBox::showPopup();
}
