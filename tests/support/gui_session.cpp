#include "gui_session.h"

#include "drives.h"
#include "form_runtime.h"
#include "frmAbout.h"
#include "run_hooks.h"
#include "shell.h"
#include "test_hooks.h"

#include <QtTest>

GuiSession::GuiSession() {
    qputenv("PELLICOR_REGISTRY_FILE", QFile::encodeName(settings.filePath("registry.reg")));
    QDir::setCurrent(dir.path());
    setMsgBoxHook([this](const QString& prompt, int style, const QString& title) {
        messages.append({prompt, style, title, mousePointer()});
    });
    setAboutHook([this](QWidget* owner) { abouts << owner; });
    setLauncher([this](const QString& program, const QStringList& arguments) {
        launched << (QStringList{program} + arguments);
        return true;
    });
}

GuiSession::~GuiSession() {
    form.reset();
    QDir::setCurrent(QDir::tempPath());
    setMsgBoxHook({});
    setAboutHook({});
    setLauncher({});
    setRemoveHook({});
    flushFileByFile(false);
    setChDirHook({});
    setDriveSource({});
    setCaseRule({});
}

frmMain& GuiSession::show() {
    form.reset();
    form = std::make_unique<frmMain>();
    form->show();
    if (!QTest::qWaitForWindowActive(form.get())) qWarning("the main window did not become active");
    return *form;
}

QString GuiSession::touch(const QString& name, const QByteArray& bytes) const {
    QDir().mkpath(QFileInfo(file(name)).path());
    QFile f(file(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) qFatal("cannot write %s", qPrintable(f.fileName()));
    return f.fileName();
}

QStringList GuiSession::prompts() const {
    QStringList out;
    for (const Message& m : messages) out << m.prompt;
    return out;
}
