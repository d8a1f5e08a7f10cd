#include "Registry.h"

#include <vector>

namespace {

// Key paths, names and texts travel in the local 8-bit encoding.
QByteArray ansi(const QString& text) { return text.toLocal8Bit(); }

LONG writeValue(HKEY root, const QString& keyPath, const QString& valueName, DWORD type, const QByteArray& data) {
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, 0};
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG rc = RegCreateKeyExA(root, ansi(keyPath).constData(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              &security, &key, &disposition);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExA(key, ansi(valueName).constData(), 0, type, reinterpret_cast<const BYTE*>(data.constData()),
                        static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return rc;
}

}  // namespace

LONG WriteDWordValue(HKEY root, const QString& keyPath, const QString& valueName, qint32 data) {
    const auto bits = static_cast<quint32>(data);
    const char bytes[4] = {static_cast<char>(bits), static_cast<char>(bits >> 8), static_cast<char>(bits >> 16),
                           static_cast<char>(bits >> 24)};
    return writeValue(root, keyPath, valueName, REG_DWORD, QByteArray(bytes, 4));
}

LONG WriteStringValue(HKEY root, const QString& keyPath, const QString& valueName, const QString& data) {
    QByteArray bytes = ansi(data);
    bytes.append('\0');  // the terminating NUL is part of the value
    return writeValue(root, keyPath, valueName, REG_SZ, bytes);
}

QVariant ReadValue(HKEY root, const QString& keyPath, const QString& valueName, const QVariant& defaultValue) {
    QVariant result = defaultValue;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, ansi(keyPath).constData(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return result;
    const QByteArray name = ansi(valueName);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, name.constData(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        if (type == REG_SZ) {
            std::vector<char> buffer(size + 1, ' ');
            DWORD got = size;
            if (RegQueryValueExA(key, name.constData(), nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer.data()), &got) ==
                ERROR_SUCCESS) {
                // Trailing blanks go first, then everything from the first NUL:
                // blanks of the stored text survive, the filler behind it does not.
                QByteArray text(buffer.data(), static_cast<qsizetype>(buffer.size()));
                while (text.endsWith(' ')) text.chop(1);
                result = TrimAtNull(QString::fromLocal8Bit(text));
            }
        } else if (type == REG_DWORD) {
            qint32 value = 0;
            DWORD got = sizeof value;
            if (RegQueryValueExA(key, name.constData(), nullptr, nullptr, reinterpret_cast<LPBYTE>(&value), &got) ==
                ERROR_SUCCESS)
                result = value;
        }
    }
    RegCloseKey(key);
    return result;
}

QString TrimAtNull(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}
