// The shell's "open": hands a file or an address to the desktop's handler.
#pragma once

#include <QString>
#include <QWidget>

using HWND = QWidget*;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

// Starts the desktop's handler (xdg-open) for `file` with the verb "open",
// as one argument and never through a shell, so no address can run a
// command. Returns a value above 32 when the handler was started.
qintptr ShellExecuteA(HWND hwnd, const char* operation, const char* file, const char* parameters,
                      const char* directory, int showCommand);
