// The drive list: one entry per mounted, user-facing file system.
#pragma once

#include <QComboBox>

class DriveListBox : public QComboBox {
    Q_OBJECT

public:
    explicit DriveListBox(QWidget* parent = nullptr);

    QString Drive() const { return currentText(); }
};
