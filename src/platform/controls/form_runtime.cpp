#include "form_runtime.h"
#include "test_hooks.h"

#include "drives.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QWindow>
#include <QPointer>
#include <QRegularExpression>
#include <unistd.h>

namespace {

constexpr int kBoxArmMs = 300;

MsgBoxHook& msgBoxHook() {
    static MsgBoxHook hook;
    return hook;
}

ChDirHook& chDirHook() {
    static ChDirHook hook;
    return hook;
}

QPointer<QWidget>& msgBoxOwner() {
    static QPointer<QWidget> owner;
    return owner;
}

MsgBoxAnswer& msgBoxAnswer() {
    static MsgBoxAnswer answer;
    return answer;
}

int currentPointer = vbDefault;

}  // namespace

namespace {

// Which presses repeat a key held from before, whatever window of ours they
// went to: a box that comes up while a key is held sees only its repeats.
class KeysDown : public QObject {
public:
    static KeysDown& instance() {
        static KeysDown* keys = [] {
            auto* k = new KeysDown;
            qApp->installEventFilter(k);
            return k;
        }();
        return *keys;
    }
    static int code(const QKeyEvent* key) {
        return key->nativeScanCode() != 0 ? static_cast<int>(key->nativeScanCode()) : key->key() | 1 << 30;
    }
    // Whether the press being delivered now repeats a key held from before.
    bool repeats(int code) const { return repeating_.contains(code); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!watched->isWindowType() || (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const int c = code(key);
        if (event->type() == QEvent::KeyRelease) {
            released_[c] = key->timestamp();
            return false;
        }
        // X repeats a held key as a release and a press of the same moment,
        // which Qt does not always mark as a repeat. (Going by time since the
        // last press would take a release lost between two boxes for a key
        // still held, and drop the next box's answer.)
        const bool repeat = key->isAutoRepeat() ||
                            (key->timestamp() != 0 && released_.contains(c) && key->timestamp() == released_.value(c));
        if (repeat) repeating_.insert(c);
        else repeating_.remove(c);
        return false;
    }

private:
    QHash<int, quint64> released_;  // when, in the window system's time
    QSet<int> repeating_;
};

}  // namespace

FreshKeys::FreshKeys(QWindow* window, int armMs) : QObject(window), armMs_(armMs) {
    KeysDown::instance();
    window->installEventFilter(this);
}

bool FreshKeys::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    // The moments count from when the window can first be seen.
    if (type == QEvent::Expose && !since_.isValid() && static_cast<QWindow*>(watched)->isExposed()) since_.start();
    const bool arming = armMs_ > 0 && (!since_.isValid() || since_.elapsed() < armMs_);
    if (arming && (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick))
        return true;
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const int code = KeysDown::code(key);
    const bool fresh = type != QEvent::KeyRelease && !key->isAutoRepeat() && !KeysDown::instance().repeats(code);
    const bool take = pressed_.contains(code) || (fresh && !arming);
    if (take && type == QEvent::KeyPress && fresh) pressed_.insert(code);
    if (take && type == QEvent::KeyRelease && !key->isAutoRepeat()) pressed_.remove(code);
    if (take) return false;
    event->accept();  // a shortcut override taken: no shortcut fires
    return true;
}

int MsgBox(const QString& prompt, int style, const QString& title) {
    const bool yesNo = (style & 7) == vbYesNo;
    const bool secondDefault = (style & 0x300) == vbDefaultButton2;
    if (msgBoxHook()) {
        msgBoxHook()(prompt, style, title);
        if (msgBoxAnswer()) return msgBoxAnswer()(prompt, style);
        return !yesNo ? vbOK : secondDefault ? vbNo : vbYes;
    }
    const int iconStyle = style & 0x70;
    const QMessageBox::Icon icon = iconStyle == vbCritical      ? QMessageBox::Critical
                                   : iconStyle == vbExclamation ? QMessageBox::Warning
                                   : iconStyle == vbQuestion    ? QMessageBox::Question
                                                                : QMessageBox::NoIcon;
    QWidget* owner = msgBoxOwner() ? msgBoxOwner().data() : QApplication::activeWindow();
    QMessageBox box(icon, title, prompt, yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, owner);
    if (yesNo) box.setDefaultButton(secondDefault ? QMessageBox::No : QMessageBox::Yes);
    box.winId();  // its window, to watch
    new FreshKeys(box.windowHandle(), kBoxArmMs);
    const int answer = box.exec();
    return !yesNo ? vbOK : answer == QMessageBox::Yes ? vbYes : vbNo;
}

MsgBoxHook setMsgBoxHook(MsgBoxHook hook) { return std::exchange(msgBoxHook(), std::move(hook)); }
MsgBoxAnswer setMsgBoxAnswer(MsgBoxAnswer answer) { return std::exchange(msgBoxAnswer(), std::move(answer)); }

void setMsgBoxOwner(QWidget* owner) {
    msgBoxOwner() = owner;
    KeysDown::instance();  // from the start: a key held into the first box is known as held
}

void setMousePointer(int pointer) {
    if (pointer == currentPointer) return;
    if (currentPointer != vbDefault) QApplication::restoreOverrideCursor();
    if (pointer == vbHourglass) QApplication::setOverrideCursor(Qt::WaitCursor);
    currentPointer = pointer;
}

int mousePointer() { return currentPointer; }

void ChDir(const QString& folder) {
    // Current for the program only: the process's working folder stays where
    // it is, so that a drive Pellicor merely shows is never kept busy.
    const QByteArray name = QFile::encodeName(folder);
    const bool done = chDirHook() ? chDirHook()(folder) : QFileInfo(folder).isDir() && ::access(name.constData(), X_OK) == 0;
    if (!done) throw RuntimeError{errPathNotFound, QStringLiteral("Path not found")};
    rememberCurrentFolder(folder);
}

ChDirHook setChDirHook(ChDirHook hook) { return std::exchange(chDirHook(), std::move(hook)); }

std::optional<qint32> toLong(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^\\s*([+-]?)(\\d*)(?:\\.(\\d*))?\\s*$"));
    const QRegularExpressionMatch m = number.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const QString whole = m.captured(2);
    const QString fraction = m.captured(3);
    if (whole.isEmpty() && fraction.isEmpty()) return std::nullopt;

    // Digits beyond what 32 bits hold need no exact arithmetic to be refused.
    const QString digits = QString(whole).remove(QRegularExpression(QStringLiteral("^0+")));
    if (digits.size() > 11) return std::nullopt;
    qint64 value = digits.isEmpty() ? 0 : digits.toLongLong();

    // Round half to even on the fraction's decimal digits.
    if (!fraction.isEmpty()) {
        const QChar first = fraction.front();
        const bool restZero = fraction.mid(1).count(QLatin1Char('0')) == fraction.size() - 1;
        if (first > QLatin1Char('5') || (first == QLatin1Char('5') && (!restZero || value % 2 == 1))) ++value;
    }
    if (m.captured(1) == QLatin1String("-")) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<qint32>(value);
}
