// Seams for the tests: each replaces one effect of the program on the world
// (boxes, folders, drives, the desktop's handler, the About
// window, a save cut short). An empty hook restores the real effect. The
// program itself never sets them.
#pragma once

#include <QList>
#include <QString>
#include <functional>

class QWidget;
struct DriveInfo;

// platform/controls/form_runtime.cpp: message boxes, current folders.
using MsgBoxHook = std::function<void(const QString& prompt, int style, const QString& title)>;
MsgBoxHook setMsgBoxHook(MsgBoxHook hook);  // returns the previous one, as do the others
// With a hook, a Yes/No box's answer (else its default button's).
using MsgBoxAnswer = std::function<int(const QString& prompt, int style)>;
MsgBoxAnswer setMsgBoxAnswer(MsgBoxAnswer answer);
using ChDirHook = std::function<bool(const QString& folder)>;  // false: fail
ChDirHook setChDirHook(ChDirHook hook);

// platform/controls/drives.cpp: drives that come and go, and whether a
// drive's root can be read; whether file names on a path's file system ignore case.
using DriveSource = std::function<QList<DriveInfo>()>;
using DriveCheck = std::function<bool(const QString& root)>;
void setDriveSource(DriveSource source, DriveCheck available = {});
using CaseRule = std::function<bool(const QString& path)>;
void setCaseRule(CaseRule rule);

// platform/shell/shell.cpp: what starts the desktop's handler (program, arguments).
using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;
Launcher setLauncher(Launcher launcher);

// about_window/frmAbout.cpp: instead of the modal About window.
using AboutHook = std::function<void(QWidget* owner)>;
AboutHook setAboutHook(AboutHook hook);

// platform/registry/hive_file.cpp: ends the process at step 1..5 of a
// settings save (temporary file created, half written, written, flushed,
// renamed), as a kill would; 0 turns it off.
void registryCrashAtSaveStep(int step);
