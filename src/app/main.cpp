// Pellicor: converts Windows bitmap files into JPEG files in batches.
#include "command_line.h"
#include "version_info.h"
#include "window_start.h"
#include "work_ahead.h"

#include <QApplication>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Qt picks the platform (X11, Wayland, ...) itself. When none can reach a
// display it aborts with a long story that speaks of reinstalling; we say
// plainly what is missing instead. What Qt says while it looks for a display
// is held back until it has found one, so that a failure prints only ours.
// A platform plugin that is not installed at all is another matter: there
// Qt's own words name it.
QtMessageHandler qtHandler = nullptr;
bool choosingPlatform = false;
bool pluginMissing = false;

struct HeldMessage {
    QtMsgType type;
    QByteArray file, function, category;
    int line;
    QString text;
};
std::vector<HeldMessage> held;

bool noDisplay(const QString& text) {
    return text.contains(QLatin1String("could not connect to display"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("no Qt platform plugin could be initialized"), Qt::CaseInsensitive);
}

void replayHeld() {
    qInstallMessageHandler(qtHandler);
    for (const HeldMessage& m : held) {
        const QMessageLogContext context(m.file.constData(), m.line, m.function.constData(), m.category.constData());
        qtHandler(m.type, context, m.text);
    }
    held.clear();
}

void whileChoosingPlatform(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (!choosingPlatform) {
        qtHandler(type, context, text);
        return;
    }
    if (type == QtFatalMsg && noDisplay(text) && !pluginMissing) {
        std::fputs("pellicor: no graphical display found (neither WAYLAND_DISPLAY nor DISPLAY is set or reachable).\n"
                   "Pellicor is a desktop program: start it from a desktop session.\n",
                   stderr);
        std::fflush(stderr);
        std::_Exit(1);  // nothing is open or unsaved yet
    }
    if (type == QtFatalMsg) {  // another reason to stop: Qt's own words, and all before them
        choosingPlatform = false;
        replayHeld();
        qtHandler(type, context, text);
        return;
    }
    pluginMissing = pluginMissing || text.contains(QLatin1String("Could not find the Qt platform plugin"));
    held.push_back({type, context.file, context.function, context.category, context.line, text});
}

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = runWithoutWindow(argc, argv)) return *status;  // --convert, --help, --version
    {
        // A converter's option without --convert (-r, --delete) is said to be
        // one even where no display could be found. Qt's own options (-platform,
        // -style) are single-dash words, taken out by QApplication before the
        // window's start reads the rest.
        QStringList options{QFile::decodeName(argv[0])};
        for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
            if (argv[i][0] == '-' && (argv[i][1] == '-' || (argv[i][1] != '\0' && argv[i][2] == '\0'))) options << QFile::decodeName(argv[i]);
        if (!windowPaths(options)) return 2;
    }
    raiseOpenFileLimit();
    qtHandler = qInstallMessageHandler(whileChoosingPlatform);
    choosingPlatform = true;
    QApplication app(argc, argv);
    choosingPlatform = false;
    replayHeld();

    QApplication::setApplicationName(version_info::Title);
    QApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(version_info::Major).arg(version_info::Minor).arg(version_info::Revision));
    return runWindow(QApplication::arguments());
}
