// The folder browser: the drive list moves the folder list, and the folder
// list moves the file list, the current folder and the drive list.
#include "dir_list_box.h"
#include "drive_list_box.h"
#include "file_list_box.h"
#include "form_runtime.h"
#include "frmMain.h"
#include "modPellicor.h"
#include "version_info.h"

#include <QDir>

void frmMain::Drive1_Change() {
    // A drive that goes during a run is the run's to report; the window
    // follows when the run ends.
    if (isConverting()) {
        connect(this, &frmMain::runEnded, this, &frmMain::Drive1_Change,
                static_cast<Qt::ConnectionType>(Qt::UniqueConnection | Qt::SingleShotConnection));
        return;
    }
    const QString drive = Drive1->Drive();
    try {
        Dir1->setDrive(drive);  // Dir1_Change completes the chain
    } catch (const RuntimeError& error) {
        if (error.number == errDeviceUnavailable) {
            MsgBox(QStringLiteral("The selected drive is not available."), vbCritical, version_info::Title);
            // Fall back to the root file system, but only once: if that cannot
            // be read either, there is nowhere left to go.
            if (drive != QDir::rootPath()) {
                try {
                    Drive1->setDrive(QDir::rootPath());
                } catch (const RuntimeError&) {
                }
            }
        } else {
            MsgBox(QString::number(error.number) + QLatin1Char('\n') + error.description, vbCritical,
                   version_info::Title);
        }
    }
}

void frmMain::Dir1_Change() {
    if (bDirBusy) return;
    bDirBusy = true;
    const QString folder = Dir1->Path();
    QString refusal;
    try {
        ChDir(folder);
        File1->setPath(folder);
        sFilePath = folder;
    } catch (const RuntimeError& error) {
        refusal = DirListBox::whyNotOpen(folder);
        if (refusal.isEmpty()) refusal = error.description;
        // Back to the folder the file list shows, so that no list shows a
        // folder whose files are not the ones listed.
        try {
            Dir1->setPath(File1->Path());
        } catch (const RuntimeError&) {
            File1->setPath(QString());  // nowhere to go back to: list nothing
        }
    }
    try {
        Drive1->setDrive(Dir1->Path());
    } catch (const RuntimeError&) {
    }
    bDirBusy = false;
    // Said once the lists agree again, and outside the guard: the box runs an event loop.
    if (!refusal.isEmpty()) Dir1_Refused(folder, refusal);
}

void frmMain::Dir1_Refused(const QString& folder, const QString& reason) {
    MsgBox(QStringLiteral("Cannot open folder ") + folder + QLatin1Char('\n') + reason, vbCritical, version_info::Title);
}
