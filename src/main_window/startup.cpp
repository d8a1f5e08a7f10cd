// Start-up and shut-down: the settings restored at load and saved at unload.
#include "dir_list_box.h"
#include "drive_list_box.h"
#include "drives.h"
#include "form_runtime.h"
#include "frmMain.h"
#include "list_box.h"
#include "modPellicor.h"
#include "twips.h"
#include "Registry.h"
#include "version_info.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <cmath>

namespace {

// Software\Corvane\<title>\Main, built afresh for every value.
QString settingsKey() { return QStringLiteral("Software\\Corvane\\") + version_info::Title + QStringLiteral("\\Main"); }

QVariant read(const char* name, const char* defaultText) {
    return ReadValue(HKEY_CURRENT_USER, settingsKey(), QLatin1String(name), QString::fromLatin1(defaultText));
}

// A stored value as a number: integers as they are, texts as the runtime converts them.
std::optional<double> number(const QVariant& value) {
    if (value.typeId() == QMetaType::Int) return value.toInt();
    bool ok = false;
    const double d = value.toString().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(d)) return std::nullopt;
    return d;
}

qint32 roundHalfEven(double twips) { return static_cast<qint32>(std::nearbyint(twips)); }

}  // namespace

void frmMain::Form_Load() {
    // Each step on its own: a value that cannot be applied is passed over.
    if (const auto left = number(read("MainLeft", "0"))) setLeft(*left);
    if (const auto top = number(read("MainTop", "0"))) setTop(*top);
    if (const auto width = number(read("MainWidth", "9000"))) setWidth(*width);
    sFilePath = read("FilePath", "").toString();
    if (const auto stored = number(read("DeleteFile", "1"))) {
        const double kill = std::nearbyint(*stored);
        if (kill >= 0 && kill <= 2) {
            chkKill->setTristate(kill == 2);
            chkKill->setCheckState(kill == 0 ? Qt::Unchecked : kill == 1 ? Qt::Checked : Qt::PartiallyChecked);
        }
    }
    txtQuality->setText(read("Quality", "75").toString());
    try {
        if (driveAnswers(sFilePath)) Dir1->setPath(sFilePath);  // a share gone dead would hang the start
    } catch (const RuntimeError&) {
    }
    try {
        Drive1->setDrive(Dir1->Path());
    } catch (const RuntimeError&) {
    }
    // When the stored folder could not be shown, the add commands must still
    // build paths in the folder the file list does show.
    if (sFilePath != Dir1->Path()) sFilePath = Dir1->Path();
    List1->setOLEDropMode(1);
    List1->setOLEDragMode(1);
    setWindowTitle(version_info::TitleWithVersion);
    keepOnAScreen();
}

void frmMain::Form_Unload() {
    if (WindowState() == 0) {
        WriteDWordValue(HKEY_CURRENT_USER, settingsKey(), QStringLiteral("MainLeft"), roundHalfEven(Left()));
        WriteDWordValue(HKEY_CURRENT_USER, settingsKey(), QStringLiteral("MainTop"), roundHalfEven(Top()));
        WriteDWordValue(HKEY_CURRENT_USER, settingsKey(), QStringLiteral("MainWidth"), roundHalfEven(Width()));
    }
    WriteStringValue(HKEY_CURRENT_USER, settingsKey(), QStringLiteral("FilePath"), sFilePath);
    const int kill = chkKill->checkState() == Qt::Unchecked ? 0 : chkKill->checkState() == Qt::Checked ? 1 : 2;
    WriteStringValue(HKEY_CURRENT_USER, settingsKey(), QStringLiteral("DeleteFile"), QString::number(kill));
    WriteStringValue(HKEY_CURRENT_USER, settingsKey(), QStringLiteral("Quality"), txtQuality->text());
}

// A window restored onto a monitor that is no longer there would be lost:
// it comes back onto the primary screen. One partly on any screen stays.
// A width wider than all screens together (a damaged setting) would leave
// nothing of the window to see: it becomes the screens' width.
void frmMain::keepOnAScreen() {
    QRect desktop;
    for (const QScreen* screen : QGuiApplication::screens()) desktop |= screen->availableGeometry();
    if (!desktop.isEmpty() && twipsToPixels(Width()) > desktop.width()) setWidth(pixelsToTwips(desktop.width()));
    const QRect window(QPoint(twipsToPixels(Left()), twipsToPixels(Top())), QSize(twipsToPixels(Width()), twipsToPixels(Height())));
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->geometry().intersects(window)) return;
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        setLeft(pixelsToTwips(primary->availableGeometry().left()));
        setTop(pixelsToTwips(primary->availableGeometry().top()));
    }
}
