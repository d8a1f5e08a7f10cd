// The About window: name and version, copyright, comments, and the links to
// the maker's home page and mail address.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class frmAbout : public QDialog {
    Q_OBJECT

public:
    explicit frmAbout(QWidget* parent = nullptr);

    QLabel* Image2;
    QLabel* picLogo;
    QLabel* picLogo2;
    QLabel* lblTitle;
    QLabel* lblCopyright;
    QLabel* lblComments;
    QLabel* Image1;
    QFrame* Frame1;
    QLabel* lblTittel;
    QLabel* lblHomePage;
    QLabel* lblEMail;
    QPushButton* cbOK;

    void Form_Load();
    void cbOK_Click();
    void lblHomePage_Click();
    void lblEMail_Click();
    void picLogo_MouseDown();
    void picLogo_MouseUp();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void fitToText();
};

// Shows the About window modally (a new one each time).
void ShowAboutWindow(QWidget* owner);
