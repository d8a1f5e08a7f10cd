// A window's design sizes are the minimum: at a larger font resolution than
// the design's 96 dpi a control grows to show its text whole.
#pragma once

#include <QSize>

class QAbstractScrollArea;
class QWidget;

// What a control needs to show its text at its font: a label its text (a
// word-wrapped one the height for its width), a button its caption inside
// frame and margin, a check box a line's height, a text or drop-down box one
// line inside its frame. Zero where the text sets no need.
QSize textNeed(const QWidget* control);

// Grows a control to its text's need where that is larger; returns the growth.
QSize growFitToText(QWidget* control);

// How many times larger than in the design a control's font draws: its
// line's height against the same font's at 96 dpi, or the resolution's
// ratio where that is more (the style's pictures and margins follow the
// resolution). 1 at 96 dpi.
double fontScale(const QWidget* control);

// A design length at that scale, rounded up.
int scaledLength(int pixels, double scale);

// The growth that keeps a list's rows: what its inside (less the frame)
// would grow at that scale.
int rowsGrowth(const QAbstractScrollArea* list, double scale);
