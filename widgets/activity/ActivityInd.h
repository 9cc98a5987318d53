#pragma once

#include "ActivityPropertyBag.h"
#include "ActivityRenderer.h"
#include "FrameCache.h"

#include <QImage>
#include <QString>
#include <QWidget>

class QPaintEvent;
class QResizeEvent;

// Self-drawn busy indicator: a symbol that turns clockwise as Step runs from 0
// to 100. Every frame is drawn into an image of the control's size and copied to
// the screen in one piece, so the control never shows a half-drawn frame.
class ActivityInd : public QWidget {
    Q_OBJECT

public:
    static constexpr qint32 kDefaultStyle = 0;
    static constexpr qint32 kDefaultStep = 0;
    static constexpr quint32 kDefaultBackColor = 0x8000000F; // button face
    static constexpr quint32 kDefaultForeColor = 0x500000;   // dark blue

    explicit ActivityInd(QWidget* parent = nullptr);

    // Plain 0x00BBGGRR for a colour value; with bit 31 set, the current value of
    // the system colour whose index is in the low 24 bits.
    quint32 XlatColor(quint32 lColor) const;

    // Every assignment repaints and reports the change, even of an equal value.
    qint32 Style() const { return m_style; }
    void SetStyle(qint32 NewStyle);
    quint32 BackColor() const { return m_backColor; }
    void SetBackColor(quint32 NewBackColor);
    quint32 ForeColor() const { return m_foreColor; }
    void SetForeColor(quint32 NewForeColor);

    // Kept within 0..100 by the setter; an unchanged value is reported but not
    // redrawn, since the host sets Step on every timer tick.
    qint32 Step() const { return m_step; }
    void SetStep(qint32 NewStep);

    // A new instance: defaults, no repaint, no change report.
    void InitProperties();
    // Loads the stored properties as they are (Step is not clamped), without
    // repainting or reporting. Throws PropertyLoadError on a value that does not
    // fit its property's type; properties read before it keep their new values.
    void ReadProperties(const ActivityPropertyBag& bag);
    // Stores the properties; values equal to their defaults are left out.
    void WriteProperties(ActivityPropertyBag& bag) const;

    // Frames drawn so far (a setter that repaints draws exactly one).
    int frameCount() const { return m_frameCount; }
    const QImage& backBuffer() const { return m_actBuf; }
    const activity::DrawState& drawState() const { return m_drawState; }

    // The built-in system colour table (0x00BBGGRR); unknown indices are black.
    // Index 15, the button face, is taken from the application palette instead.
    static quint32 systemColor(quint32 index);

signals:
    // Names the property whose value the container should consider changed.
    void propertyChanged(const QString& name);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void repaintNow();
    void drawFrame();
    void fitBuffer();

    qint32 m_style = kDefaultStyle;
    qint16 m_step = kDefaultStep;
    quint32 m_backColor = kDefaultBackColor;
    quint32 m_foreColor = kDefaultForeColor;

    QImage m_actBuf;
    activity::DrawState m_drawState;
    activity::FrameCache m_frames;
    // Set when a setter has drawn a frame that has not been shown yet; the paint
    // that follows shows it instead of drawing the same frame a second time.
    bool m_frameWaiting = false;
    int m_frameCount = 0;
};
