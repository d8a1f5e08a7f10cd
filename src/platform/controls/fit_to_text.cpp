#include "fit_to_text.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>

QSize textNeed(const QWidget* control) {
    const QFontMetrics line(control->font());
    const auto metric = [control](QStyle::PixelMetric m) { return control->style()->pixelMetric(m, nullptr, control); };
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return label->wordWrap() ? QSize(0, label->heightForWidth(label->width())) : label->sizeHint();
    // The box alone, as tall as the line of its caption beside it.
    if (qobject_cast<const QCheckBox*>(control)) return QSize(line.height(), line.height());
    // Not the button's size hint: the style adds a minimum width that is no
    // need of the caption's, and the design's buttons are narrower.
    if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
        const int chrome = metric(QStyle::PM_ButtonMargin) + 2 * metric(QStyle::PM_DefaultFrameWidth);
        return line.size(Qt::TextShowMnemonic, button->text()) + QSize(chrome, chrome);
    }
    // A text or drop-down box: one line inside its frame and a pixel of margin.
    if (qobject_cast<const QLineEdit*>(control) || qobject_cast<const QComboBox*>(control))
        return QSize(0, line.height() + 2 * (metric(QStyle::PM_DefaultFrameWidth) + 1));
    return QSize();
}

QSize growFitToText(QWidget* control) {
    const QSize growth = (textNeed(control) - control->size()).expandedTo(QSize(0, 0));
    control->resize(control->size() + growth);
    return growth;
}
