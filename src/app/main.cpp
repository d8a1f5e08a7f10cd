// Pellicor: converts Windows bitmap files into JPEG files in batches.
#include "frmMain.h"
#include "version_info.h"

#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Qt aborts with a long story when there is no display; say it plainly instead.
bool displayAvailable() {
    if (const char* platform = std::getenv("QT_QPA_PLATFORM"); platform && *platform) return true;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    // A local display (":0", "unix:0") has its socket; remote ones are taken on trust.
    const char* colon = std::strrchr(display, ':');
    const bool local = colon && (colon == display || std::strncmp(display, "unix:", 5) == 0);
    if (!local) return true;
    const int number = std::atoi(colon + 1);
    return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number));
}

}  // namespace

int main(int argc, char** argv) {
    if (!displayAvailable()) {
        std::fprintf(stderr,
                     "pellicor: no graphical display found (DISPLAY is not set or not reachable).\n"
                     "Pellicor is a desktop program: start it from a desktop session.\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(version_info::Title);
    QApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(version_info::Major).arg(version_info::Minor).arg(version_info::Revision));
    frmMain form;
    form.show();
    return app.exec();
}
