#include "shown_name.h"

#include "file_names.h"

namespace {

bool utf8Terminal = true;

bool plainByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("%+,-./:=@_").contains(char(c));
}

// Characters a terminal shows as themselves: not controls, not formatting
// (bidirectional overrides), not line or paragraph separators, assigned.
bool printable(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        return true;
    }
}

void escapeByte(QString& out, unsigned char c) {
    static const char named[] = "abtnvfr";
    if (c >= 7 && c <= 13) {
        out += QLatin1Char('\\');
        out += QLatin1Char(named[c - 7]);
    } else {
        out += QStringLiteral("\\%1").arg(uint(c), 3, 8, QLatin1Char('0'));
    }
}

}  // namespace

void setUtf8Terminal(bool on) { utf8Terminal = on; }

QString shownName(const QString& name) {
    const QByteArray bytes = fileNameBytes(name);
    // Split into runs to quote ('...') and runs to escape ($'...').
    QString out;
    QString quoted;
    QString escaped;
    bool plain = !bytes.isEmpty() && bytes[0] != '~' && bytes[0] != '#';
    const auto flushQuoted = [&] {
        if (quoted.isEmpty()) return;
        out += QLatin1Char('\'') + quoted + QLatin1Char('\'');
        quoted.clear();
    };
    const auto flushEscaped = [&] {
        if (escaped.isEmpty()) return;
        out += QStringLiteral("$'") + escaped + QLatin1Char('\'');
        escaped.clear();
    };
    const QString text = fileNameText(bytes);
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        qsizetype units = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i].unicode(), text[i + 1].unicode());
            units = 2;
        }
        const QStringView piece = QStringView(text).mid(i, units);
        i += units - 1;
        const bool stray = c >= 0xDC80 && c <= 0xDCFF;
        if (!stray && c >= 0x20 && (c < 0x7F || (c > 0x7F && utf8Terminal && printable(c)))) {
            flushEscaped();
            if (c >= 0x80 || !plainByte(static_cast<unsigned char>(c))) plain = false;
            quoted += c == U'\'' ? QStringLiteral("'\\''") : piece.toString();
            continue;
        }
        plain = false;
        flushQuoted();
        for (const char b : fileNameBytes(piece)) escapeByte(escaped, static_cast<unsigned char>(b));
    }
    if (plain) return quoted;
    flushQuoted();
    flushEscaped();
    return out.isEmpty() ? QStringLiteral("''") : out;
}
