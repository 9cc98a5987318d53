#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QtGlobal>

// The fonts and colours the windows were designed with: Arial (fontconfig gives its metric
// twin when Arial itself is missing) and colour values in the 0x00BBGGRR order.
namespace classic {
inline QFont arial(qreal points, bool bold = false) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

inline QColor colour(quint32 bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}
} // namespace classic
