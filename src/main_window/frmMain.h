// The main window: every control and every handler. The handlers are defined
// in the folder of the part of the program they serve.
#pragma once

#include <QWidget>
#include <array>

class ConversionRun;
class DirListBox;
class FreshKeys;
class DriveListBox;
class FileListBox;
class ListBox;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMimeData;
class QProgressBar;
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
    ListBox* List1;
    QFrame* PicStatus;
    QLabel* lblStatus;
    QProgressBar* prgRun;  // files done of files queued, shown only while a run works
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

    // True while Dir1_Change runs, so that it never runs inside itself.
    bool bDirBusy = false;

    // Handlers.
    void cmdConvert_Click();  // conversion/
    void cmdAddAll_Click();  // conversion_list/
    void File1_DblClick();
    void cmdRemoveAll_Click();
    void List1_DblClick();
    void List1_OLEDragDrop(const QMimeData* data);
    void List1_MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, double x, double y);
    void Drive1_Change();  // main_window/folder_browser.cpp
    void Dir1_Change();
    void Dir1_Refused(const QString& folder, const QString& reason);
    void Form_Load();  // main_window/startup.cpp
    void Form_Unload();
    void Form_Resize();  // main_window/layout.cpp
    void cmdExit_Click();  // main_window/window_commands.cpp
    void lblKill_Click();
    void Image1_Click();
    void lblTittel_Click(int Index);
    void Timer1_Timer();

    // The window's outer position and size in twips, and its state (0 normal,
    // 1 minimized, 2 maximized). The outer size is the client area plus the
    // classic frame, whatever the window manager draws, so that a stored
    // width means the same on every desktop.
    double Left() const;
    double Top() const;
    double Width() const;
    double Height() const;
    void setLeft(double twips);
    void setTop(double twips);
    void setWidth(double twips);
    void setHeight(double twips);
    int WindowState() const;

    // Sets the status line (every report overwrites the whole line).
    void setStatus(const QString& text);
    // True while Convert works through the list.
    bool isConverting() const { return converting_; }
    // During a run: asks whether to stop it after the file in hand (Escape,
    // Exit and the close box come here).
    void askToStop();

signals:
    void statusWritten(const QString& text);
    void runEnded();
    void closing();  // the window is going: it takes no more files from later starts

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void createControls();
    void fitToText();  // main_window/layout.cpp
    void keepOnAScreen();
    // The resize rules' sizes in twips. They are the design's; a larger font
    // resolution grows them so that every text shows whole (see fitToText).
    double outerHeight_ = 6480;
    double minimumOuterWidth_ = 6855;
    double exitOffset_ = 1440;  // Exit's left edge from the window's right edge
    double qualityOffset_ = 1000;  // "% Quality" and its box
    double titleOffset_ = 2000;  // the titles are as wide as the window less this
    double listOffset_ = 3240;  // the conversion list is as wide as the window less this
    bool loaded_ = false;
    void AddFileToList(ListBox& list, const QString& entry);  // conversion_list/
    void ShowListItemTip(QWidget* control, double y);
    bool converting_ = false;
    ConversionRun* run_ = nullptr;  // the run under way
    bool askingToStop_ = false;
    FreshKeys* freshKeys_ = nullptr;  // on the window once it has run
};
