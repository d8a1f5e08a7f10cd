// What the window code expects of its runtime beyond Qt's widgets: modal
// message boxes, the application-wide mouse pointer, deleting files and the
// numeric conversion of typed text. The side effects go through hooks that
// tests replace (test_hooks.h), so that no test blocks on a modal box.
#pragma once

#include <QString>
#include <optional>

class QWidget;

// A run-time error of the platform: a number and its description.
struct RuntimeError {
    int number;
    QString description;
};
constexpr int errDeviceUnavailable = 68;
constexpr int errPathNotFound = 76;

// Message box styles.
constexpr int vbCritical = 16;
constexpr int vbExclamation = 48;

// Mouse pointers.
constexpr int vbDefault = 0;
constexpr int vbHourglass = 11;

// Shows a modal box with one OK button; its answer is not used.
void MsgBox(const QString& prompt, int style, const QString& title);
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
