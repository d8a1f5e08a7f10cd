// Rows that show a name on one line whatever it holds, and the focus frame
// of the lists that draw their rows so.
#pragma once

#include <QAbstractItemView>
#include <QPainter>
#include <QStyledItemDelegate>

// Where a list's focus is, however the focus came (the style frames the
// current row only after a key moved the focus, and faintly): a dotted frame
// in the row's text colour, which shows on a selected row too.
inline void drawFocusFrame(QPainter* painter, const QRect& rect, const QColor& color) {
    painter->save();
    painter->setPen(QPen(color, 1, Qt::DotLine));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

// A list with the focus and no current row (none to have) frames its inside
// instead; call after the list has painted.
inline void paintFocusWhenEmpty(QAbstractItemView* list) {
    if (!list->hasFocus() || list->currentIndex().isValid()) return;
    QPainter painter(list->viewport());
    drawFocusFrame(&painter, list->viewport()->rect(), list->palette().color(QPalette::Text));
}

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
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem row = option;
        row.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, row, index);
        if (!(option.state & QStyle::State_HasFocus)) return;
        const bool selected = option.state & QStyle::State_Selected;
        drawFocusFrame(painter, option.rect, option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    }
};
