#pragma once

#include <QLabel>

// A label that sizes itself to its text, growing to the right from its left edge.
class AutoSizeLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    void setCaption(const QString& text) {
        setText(text);
        adjustSize();
    }
};
