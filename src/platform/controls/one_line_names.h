// Rows that show a name on one line whatever it holds.
#pragma once

#include <QStyledItemDelegate>

// A line break (or any control character) is a legal byte of a Linux file
// name; drawn as it is, a name would take two rows and read as two files.
// A line break shows as a return arrow and any other control character as
// the replacement mark: glyphs that common fonts have, unlike Unicode's
// pictures of control characters.
class OneLineNames : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale& locale) const override {
        QString text = value.toString();
        if (text.isNull()) return QStyledItemDelegate::displayText(value, locale);
        for (QChar& c : text) {
            if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) c = QChar(0x21B5);
            else if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = QChar::ReplacementCharacter;
        }
        return text;
    }
};
