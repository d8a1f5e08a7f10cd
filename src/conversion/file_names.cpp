#include "file_names.h"

#include <QDir>
#include <cerrno>
#include <unistd.h>

namespace {

constexpr char16_t kStrayByte = 0xDC00;

// The length of the UTF-8 sequence starting at `p` (at most `left` bytes), 0 when it is not one.
int sequenceLength(const unsigned char* p, qsizetype left) {
    const unsigned char b = p[0];
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0) low = 0xA0;   // overlong
        if (b == 0xED) high = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high) return 0;
    for (int k = 2; k < length; ++k)
        if (p[k] < 0x80 || p[k] > 0xBF) return 0;
    return length;
}

}  // namespace

QString fileNameText(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        if (p[i] < 0x80) {
            text.append(QChar(p[i++]));
            continue;
        }
        const int length = sequenceLength(p + i, n - i);
        if (length == 0) {
            text.append(QChar(char16_t(kStrayByte + p[i++])));
            continue;
        }
        char32_t c = p[i] & (0x7F >> length);
        for (int k = 1; k < length; ++k) c = (c << 6) | (p[i + k] & 0x3F);
        i += length;
        if (c >= 0x10000) {
            text.append(QChar(QChar::highSurrogate(c)));
            text.append(QChar(QChar::lowSurrogate(c)));
        } else {
            text.append(QChar(char16_t(c)));
        }
    }
    return text;
}

QByteArray fileNameBytes(QStringView text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text[i].unicode();
        if (c < 0x80) {
            bytes.append(char(c));
            continue;
        }
        if (c >= 0xDC80 && c <= 0xDCFF) {  // a stray byte kept as it was
            bytes.append(char(c - kStrayByte));
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), text[++i].unicode());
        if (c < 0x800) {
            bytes.append(char(0xC0 | (c >> 6)));
        } else if (c < 0x10000) {
            bytes.append(char(0xE0 | (c >> 12)));
            bytes.append(char(0x80 | ((c >> 6) & 0x3F)));
        } else {
            bytes.append(char(0xF0 | (c >> 18)));
            bytes.append(char(0x80 | ((c >> 12) & 0x3F)));
            bytes.append(char(0x80 | ((c >> 6) & 0x3F)));
        }
        bytes.append(char(0x80 | (c & 0x3F)));
    }
    return bytes;
}

files::ShortPath systemPath(const QString& path) { return files::ShortPath(fileNameBytes(path).toStdString()); }

QString folderPart(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QStringLiteral(".");
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString namePart(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString absolutePathOf(const QString& path) {
    if (path.startsWith(QLatin1Char('/'))) return path;
    // The current folder's own bytes (getcwd gives them as they are).
    std::string folder(4096, '\0');
    while (::getcwd(folder.data(), folder.size()) == nullptr) {
        if (errno != ERANGE) return path;
        folder.resize(folder.size() * 2);
    }
    folder.resize(folder.find('\0'));
    QString whole = fileNameText(QByteArrayView(folder.data(), qsizetype(folder.size())));
    if (!whole.endsWith(QLatin1Char('/'))) whole += QLatin1Char('/');
    return QDir::cleanPath(whole + path);  // the text only: nothing is looked up
}
