#include "drive_list_box.h"

#include "drives.h"
#include "form_runtime.h"

namespace {

constexpr int kTextRole = Qt::UserRole + 1;  // the drive's text; the role of its root is Qt::UserRole

}  // namespace

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent) {
    listDrives();
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        if (!filling_) change();
    });
    connect(&DriveWatch::instance(), &DriveWatch::changed, this, &DriveListBox::drivesChanged);
}

QString DriveListBox::Drive() const { return currentData(kTextRole).toString(); }

bool DriveListBox::listDrives() {
    const QString selected = currentData().toString();
    filling_ = true;
    clear();
    for (const DriveInfo& drive : drives()) {
        addItem(drive.answering ? drive.text() : drive.text() + QStringLiteral("  (not answering)"), drive.root);
        setItemData(count() - 1, drive.text(), kTextRole);
        if (!drive.answering) setItemData(count() - 1, palette().color(QPalette::Disabled, QPalette::Text), Qt::ForegroundRole);
    }
    const int again = findData(selected);
    setCurrentIndex(again >= 0 ? again : -1);
    filling_ = false;
    return again >= 0 || selected.isEmpty();
}

void DriveListBox::setDrive(const QString& text) {
    int index = findData(text, kTextRole);
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

void DriveListBox::change() {
    const bool outer = !std::exchange(changing_, true);
    emit Change();
    if (!outer) return;
    changing_ = false;
    if (std::exchange(stale_, false)) drivesChanged();
}

void DriveListBox::drivesChanged() {
    if (changing_) {
        stale_ = true;
        return;
    }
    if (!listDrives()) change();
}

void DriveListBox::showPopup() {
    if (!listDrives()) {
        change();
        return;
    }
    QComboBox::showPopup();
}
