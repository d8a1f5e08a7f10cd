#include "shell.h"
#include "test_hooks.h"

#include <QProcess>
#include <cstring>

namespace {

Launcher& launcher() {
    static Launcher l;
    return l;
}

}  // namespace

qintptr ShellExecuteA(HWND, const char* operation, const char* file, const char*, const char*, int) {
    if (operation == nullptr || std::strcmp(operation, "open") != 0 || file == nullptr) return 0;
    const QString program = QStringLiteral("xdg-open");
    const QStringList arguments{QString::fromLocal8Bit(file)};
    const bool started = launcher() ? launcher()(program, arguments) : QProcess::startDetached(program, arguments);
    return started ? 42 : 2;  // like Windows: above 32 is success, 2 is "file not found"
}

Launcher setLauncher(Launcher l) { return std::exchange(launcher(), std::move(l)); }
