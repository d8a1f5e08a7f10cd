#include "fit_to_text.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <algorithm>
#include <cmath>

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

double fontScale(const QWidget* control) {
    QImage design(1, 1, QImage::Format_Mono);
    design.setDotsPerMeterX(3780);  // 96 dpi
    design.setDotsPerMeterY(3780);
    const double lines =
        static_cast<double>(QFontMetrics(control->font()).height()) / QFontMetrics(control->font(), &design).height();
    return std::max({1.0, lines, control->logicalDpiY() / 96.0});
}

int scaledLength(int pixels, double scale) { return static_cast<int>(std::ceil(pixels * scale - 1e-9)); }

int rowsGrowth(const QAbstractScrollArea* list, double scale) {
    const int inside = list->height() - 2 * list->frameWidth();
    return scaledLength(inside, scale) - inside;
}
