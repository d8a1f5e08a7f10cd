// What the window code expects of its runtime beyond Qt's widgets: modal
// message boxes, the application-wide mouse pointer, deleting files and the
// numeric conversion of typed text. The side effects go through hooks that
// tests replace (test_hooks.h), so that no test blocks on a modal box.
#pragma once

#include <QObject>
#include <QElapsedTimer>
#include <QSet>
#include <QString>
#include <optional>

class QWidget;
class QWindow;

// A run-time error of the platform: a number and its description.
struct RuntimeError {
    int number;
    QString description;
};
constexpr int errDeviceUnavailable = 68;
constexpr int errPathNotFound = 76;

// Message box styles, added together: buttons, icon, default button.
constexpr int vbYesNo = 4;
constexpr int vbCritical = 16;
constexpr int vbQuestion = 32;
constexpr int vbExclamation = 48;
constexpr int vbDefaultButton2 = 256;
// Answers.
constexpr int vbOK = 1;
constexpr int vbYes = 6;
constexpr int vbNo = 7;

// Mouse pointers.
constexpr int vbDefault = 0;
constexpr int vbHourglass = 11;

// Shows a modal box (one OK button unless vbYesNo) and gives its answer. It
// answers only keys pressed while it is up and active: the auto-repeat or
// release of a key that answered the box before it is not its answer.
int MsgBox(const QString& prompt, int style, const QString& title);

// Lets a window take a key's repeats and release only after it took the key's
// own press: a key held from before (into a box, out of a run) does nothing.
// With `armMs`, keys and clicks in the first moments of the window are not
// its own either: a double Return or double click meant for a box that just
// closed lands on the next box, which comes up in the same place.
class FreshKeys : public QObject {
public:
    explicit FreshKeys(QWindow* window, int armMs = 0);
    // Keys pressed so far count as pressed before.
    void forget() { pressed_.clear(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSet<int> pressed_;  // native scan codes
    QElapsedTimer since_;
    int armMs_;
};
// The window the boxes open over, centred on it. The active window will not
// do: after a box closes there is none until the event loop runs again, and a
// run that reports a second failure holds the loop.
void setMsgBoxOwner(QWidget* owner);

// The application-wide pointer (vbDefault or vbHourglass).
void setMousePointer(int pointer);
int mousePointer();

// Makes a folder the current folder of its drive, for the program (the
// process's working folder never follows); throws RuntimeError when the
// folder cannot be entered.
void ChDir(const QString& folder);

// Text to a 32-bit integer as the form runtime converts it: blanks around it
// allowed, an optional sign, digits, an optional fraction rounded half to
// even. Empty text, other text or a value outside 32 bits gives nothing.
std::optional<qint32> toLong(const QString& text);
