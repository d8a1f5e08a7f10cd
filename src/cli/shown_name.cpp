#include "shown_name.h"

#include "file_names.h"

#include <cctype>
#include <vector>

namespace {

bool utf8Terminal = true;

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

// As coreutils' shell-escape quoting: bare when every character is plain;
// else in double quotes when the name holds a single quote and nothing the
// shell takes specially there; else in single quotes, a single quote as '\'',
// and whatever must not reach the terminal as $'\n' pieces.
QString shownName(const QString& name) {
    const QString text = fileNameText(fileNameBytes(name));
    struct Piece {
        QStringView shown;  // empty: escape `bytes`
        QByteArray bytes;
    };
    std::vector<Piece> pieces;
    bool bare = !text.isEmpty();
    bool singleQuote = false;
    bool doubleQuotable = true;  // every character means the same between double quotes
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        qsizetype units = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i].unicode(), text[i + 1].unicode());
            units = 2;
        }
        const QStringView piece = QStringView(text).mid(i, units);
        const bool first = i == 0;
        i += units - 1;
        const bool stray = c >= 0xDC80 && c <= 0xDCFF;
        if (stray || c < 0x20 || c == 0x7F || (c > 0x7F && !(utf8Terminal && printable(c)))) {
            bare = doubleQuotable = false;
            pieces.push_back({{}, fileNameBytes(piece)});
            continue;
        }
        pieces.push_back({piece, {}});
        if (c > 0x7F || (c < 0x80 && std::isalnum(static_cast<int>(c))) || QByteArrayView("%+,-./:]_@").contains(char(c)))
            continue;
        if (c == '{' || c == '}' || c == '#' || c == '~') {
            // Special only alone ({ and }) or first (# and ~).
            const bool special = (c == '{' || c == '}') ? text.size() == 1 : first;
            bare = bare && !special;
            doubleQuotable = doubleQuotable && special;
            continue;
        }
        bare = false;
        if (c == '\'') singleQuote = true;
        if (c != '\'' && c != ' ') doubleQuotable = false;
    }
    if (bare) return text;
    if (singleQuote && doubleQuotable) return QLatin1Char('"') + text + QLatin1Char('"');
    QString out = QStringLiteral("'");
    bool escaping = false;
    for (const Piece& piece : pieces) {
        if (piece.shown.isEmpty()) {
            if (!escaping) out += QStringLiteral("'$'");
            escaping = true;
            for (const char b : piece.bytes) escapeByte(out, static_cast<unsigned char>(b));
        } else if (piece.shown == QLatin1String("'")) {
            out += QStringLiteral("'\\''");  // also ends an escaped run: $'\n'\''
            escaping = false;
        } else {
            if (escaping) out += QStringLiteral("''");
            escaping = false;
            out += piece.shown;
        }
    }
    return out + QLatin1Char('\'');
}
