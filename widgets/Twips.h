#pragma once

#include <QRect>
#include <QtGlobal>

// Layout lengths come in twips, 15 to a pixel at 96 dpi; Qt scales for denser screens.
namespace twips {
constexpr int PerPixel = 15;

inline int toPixels(int twips) {
    return qRound(twips / double(PerPixel));
}

inline QRect rect(int left, int top, int width, int height) {
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}
} // namespace twips
