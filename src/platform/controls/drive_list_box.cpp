#include "drive_list_box.h"

#include <QDir>

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent) {
    addItem(QDir::rootPath());
}
