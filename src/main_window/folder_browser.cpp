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
    bool current = true;
    try {
        ChDir(Dir1->Path());
    } catch (const RuntimeError&) {
        current = false;  // the file list, the current folder and the drive list stay
    }
    if (current) {
        try {
            File1->setPath(Dir1->Path());
        } catch (const RuntimeError&) {
        }
        sFilePath = Dir1->Path();
        try {
            Drive1->setDrive(Dir1->Path());
        } catch (const RuntimeError&) {
        }
    }
    bDirBusy = false;
}
