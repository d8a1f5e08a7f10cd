// Window geometry is designed in twips: 15 to the pixel at 96 dots per inch.
#pragma once

#include <QRect>
#include <cmath>

constexpr double kTwipsPerPixel = 15.0;

inline int twipsToPixels(double twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }
inline double pixelsToTwips(int pixels) { return pixels * kTwipsPerPixel; }

// A rectangle given as left, top, width, height in twips.
inline QRect twipsRect(double left, double top, double width, double height) {
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}
