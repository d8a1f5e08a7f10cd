// What every test of the windows starts from: a scratch folder made current,
// a settings file of its own, message boxes, the About window and the desktop
// launcher captured instead of shown, and (on request) a main window shown.
// Going, it closes the window and restores every hook.
#pragma once

#include "frmMain.h"

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

struct Message {
    QString prompt;
    int style;
    QString title;
    int pointer;  // the mouse pointer while the box was up
};

class GuiSession {
public:
    GuiSession();
    ~GuiSession();
    GuiSession(const GuiSession&) = delete;
    GuiSession& operator=(const GuiSession&) = delete;

    // A new main window (the last one goes first), shown and active.
    frmMain& show();
    QString file(const QString& name) const { return dir.filePath(name); }
    // Creates the file (and its folder) with these bytes; its path.
    QString touch(const QString& name, const QByteArray& bytes = {}) const;
    QStringList prompts() const;

    QTemporaryDir dir;
    QTemporaryDir settings;
    QList<Message> messages;
    QList<QWidget*> abouts;  // the owner of each About window asked for
    QList<QStringList> launched;  // program and arguments
    std::unique_ptr<frmMain> form;
};
