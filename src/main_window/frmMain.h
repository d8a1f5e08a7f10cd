// The main window: every control and every handler. The handlers are defined
// in the folder of the part of the program they serve.
#pragma once

#include <QWidget>
#include <array>

class DirListBox;
class DriveListBox;
class FileListBox;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

class frmMain : public QWidget {
    Q_OBJECT

public:
    explicit frmMain(QWidget* parent = nullptr);

    // Controls, in focus order; labels, pictures and the timer after them.
    FileListBox* File1;
    DirListBox* Dir1;
    DriveListBox* Drive1;
    QListWidget* List1;
    QFrame* PicStatus;
    QLabel* lblStatus;
    std::array<QLabel*, 2> lblTittel;
    QPushButton* cmdConvert;
    QPushButton* cmdExit;
    QPushButton* cmdAddAll;
    QPushButton* cmdRemoveAll;
    QCheckBox* chkKill;
    QLabel* lblKill;
    QLineEdit* txtQuality;
    QLabel* lblTitle;
    QLabel* Image1;
    QLabel* ImgBakgrunn;
    QTimer* Timer1;

    // Handlers.
    void cmdConvert_Click();  // conversion/
    void cmdExit_Click();
    void Timer1_Timer();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createControls();
};
