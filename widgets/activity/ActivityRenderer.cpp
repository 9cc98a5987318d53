// Drawing one frame of the activity indicator.
#include "ActivityRenderer.h"

#include "ClassicLook.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace activity {

namespace {

constexpr quint32 kBlack = 0x000000;
constexpr quint32 kWhite = 0xFFFFFF;

// Ring arrow proportions, as fractions of the symbol radius.
constexpr float kOuterRim = 0.89f;
constexpr float kInnerRim = 0.45f;
constexpr float kArrowInner = 0.33f;
constexpr float kArrowTip = 0.78f;
constexpr float kNotchPoint = 0.66f;
// The arrowhead and the notch reach this far (radians) past the ring's ends, so
// no sliver of ring or background shows between them and the ring.
constexpr float kOverlap = 0.04f;
constexpr float kRingLength = 157.07964f / 32.0f; // 281.25 degrees
constexpr float kArrowSweep = kTwoPi / 10.0f;     // 36 degrees
constexpr float kNotchDepth = kTwoPi / 18.0f;     // 20 degrees
constexpr float kThirdTurn = 2.0943952f;          // 120 degrees

// Qt's arc angles are degrees; the conversion uses the exact value of pi so that
// an arc ends precisely where a vertex computed at the same angle lies.
constexpr double kDegreesPerRadian = 57.295779513082320876798;

struct PointF {
    float x;
    float y;
};

// The point at distance d and angle t from the centre; y grows downwards, so
// the sine is subtracted to keep angles counter-clockwise on screen.
PointF polar(const FrameGeometry& g, float d, float t) {
    return {g.cx + d * std::cos(t), g.cy - d * std::sin(t)};
}

QPoint rounded(PointF p) {
    return roundedVertex(p.x, p.y);
}

QColor toQColor(quint32 bgr) {
    return classic::colour(bgr);
}

// Counter-clockwise sweep from s to e in (0, 2*pi]: equal angles mean a full turn.
double sweepDegrees(float s, float e) {
    float span = std::fmod(e - s, kTwoPi);
    if (span <= 0.0f)
        span += kTwoPi;
    return double(span) * kDegreesPerRadian;
}

// The buffer's own drawing operations on top of QPainter: shapes take their fill
// from the persistent state, lines take the state's line colour, and every
// colour is resolved at the moment it is used.
class FramePainter {
public:
    FramePainter(QImage& buffer, DrawState& state, const ColorResolver& resolve)
        : m_painter(&buffer)
        , m_state(state)
        , m_resolve(resolve) {
        m_painter.setRenderHint(QPainter::Antialiasing, false);
    }

    void setFill(bool solid, quint32 color) {
        m_state.fillSolid = solid;
        m_state.fillColor = color;
    }
    void setFillColor(quint32 color) { m_state.fillColor = color; }
    void setFillSolid(bool solid) { m_state.fillSolid = solid; }
    void setLineColor(quint32 color) { m_state.lineColor = color; }

    void circle(PointF c, float radius, quint32 outline) {
        if (!(radius > 0.0f))
            return;
        applyOutlineAndFill(outline);
        m_painter.drawEllipse(QPointF(c.x, c.y), radius, radius);
    }

    // Arc from s to e plus both edges to the centre.
    void pie(PointF c, float radius, float s, float e, quint32 outline) {
        if (!(radius > 0.0f))
            return;
        QPainterPath path(QPointF(c.x, c.y));
        path.arcTo(box(c, radius), double(s) * kDegreesPerRadian, sweepDegrees(s, e));
        path.closeSubpath();
        applyOutlineAndFill(outline);
        m_painter.drawPath(path);
    }

    // An arc is an outline only, whatever the fill state says.
    void arc(PointF c, float radius, float s, float e, quint32 color) {
        if (!(radius > 0.0f))
            return;
        const QRectF r = box(c, radius);
        QPainterPath path;
        path.arcMoveTo(r, double(s) * kDegreesPerRadian);
        path.arcTo(r, double(s) * kDegreesPerRadian, sweepDegrees(s, e));
        m_painter.setPen(pen(color));
        m_painter.setBrush(Qt::NoBrush);
        m_painter.drawPath(path);
    }

    void line(QPointF from, QPointF to) {
        m_painter.setPen(pen(m_state.lineColor));
        m_painter.drawLine(from, to);
    }
    void line(PointF from, QPoint to) { line(QPointF(from.x, from.y), QPointF(to)); }
    void line(QPoint from, PointF to) { line(QPointF(from), QPointF(to.x, to.y)); }
    void line(QPoint from, QPoint to) { line(QPointF(from), QPointF(to)); }

    // Fills the triangle with its own brush, without an outline and without
    // touching the persistent fill state.
    void brushFill(const std::array<QPoint, 3>& v, quint32 color) {
        QPainterPath path;
        path.setFillRule(Qt::OddEvenFill);
        path.moveTo(v[0]);
        path.lineTo(v[1]);
        path.lineTo(v[2]);
        path.closeSubpath();
        m_painter.fillPath(path, toQColor(m_resolve(color)));
    }

    // Closed outline of the triangle in the line colour.
    void polygonOutline(const std::array<QPoint, 3>& v) {
        m_painter.setPen(pen(m_state.lineColor));
        m_painter.setBrush(Qt::NoBrush);
        m_painter.drawPolygon(v.data(), int(v.size()));
    }

private:
    static QRectF box(PointF c, float radius) {
        return QRectF(double(c.x) - radius, double(c.y) - radius, 2.0 * radius, 2.0 * radius);
    }

    QPen pen(quint32 color) const {
        // Width 1, as the frame never chooses a line width of its own.
        return QPen(toQColor(m_resolve(color)), 1);
    }

    void applyOutlineAndFill(quint32 outline) {
        m_painter.setPen(pen(outline));
        if (m_state.fillSolid)
            m_painter.setBrush(toQColor(m_resolve(m_state.fillColor)));
        else
            m_painter.setBrush(Qt::NoBrush);
    }

    QPainter m_painter;
    DrawState& m_state;
    const ColorResolver& m_resolve;
};

void drawTwoToneDisc(FramePainter& fp, const FrameGeometry& g, float a) {
    const PointF centre{g.cx, g.cy};
    const float s = std::max(a, kMinArcAngle);
    float e = a + kPi;
    if (e > kTwoPi)
        e -= kTwoPi;
    e = std::max(e, kMinArcAngle);

    fp.setFill(true, kWhite);
    fp.pie(centre, g.r, s, e, kBlack);
    fp.setFillColor(kBlack);
    fp.pie(centre, g.r, e, s, kBlack);

    // The small circles follow the dividing line itself, not the clamped pie
    // angles, so the picture turns smoothly through 3 o'clock.
    const float half = g.r / 2.0f;
    const PointF white = polar(g, half, a);
    const PointF black{g.cx - half * std::cos(a), g.cy + half * std::sin(a)};
    fp.setFillColor(kWhite);
    fp.circle(white, half, kWhite);
    fp.setFillColor(kBlack);
    fp.circle(black, half, kBlack);
    fp.setFillColor(kBlack);
    fp.circle(white, g.r / 10.0f, kBlack);
    fp.setFillColor(kWhite);
    fp.circle(black, g.r / 10.0f, kWhite);

    fp.setFillSolid(false);
    fp.circle(centre, g.r, kBlack);
}

void drawClockHands(FramePainter& fp, const FrameGeometry& g, qint16 step, float a) {
    const QPointF centre(g.cx, g.cy);
    fp.line(centre, QPointF(g.cx, g.cy - g.r));
    // At rest the moving hand would only repeat the fixed one.
    if (step > 0) {
        const PointF tip = polar(g, g.r, a);
        fp.line(centre, QPointF(tip.x, tip.y));
    }
}

void drawNeedle(FramePainter& fp, const FrameGeometry& g, quint32 fore, float a) {
    const auto v = needleVertices(g, a);
    fp.brushFill(v, fore);
    fp.setLineColor(kBlack);
    fp.polygonOutline(v);
}

void drawRingArrow(FramePainter& fp, const FrameGeometry& g, quint32 back, quint32 fore, float a) {
    const PointF centre{g.cx, g.cy};
    const float s = std::max(a, kMinArcAngle);
    const float e = ringEndAngle(a);
    const float e1 = std::max(e, kMinArcAngle);
    const float outer = kOuterRim * g.r;
    const float inner = kInnerRim * g.r;

    // The ring: a filled sector with its hole punched out in the back colour,
    // then the rims drawn over in black.
    fp.setFill(true, fore);
    fp.pie(centre, outer, s, e1, fore);
    fp.arc(centre, outer, s, e1, kBlack);
    fp.setFillColor(back);
    fp.circle(centre, inner, back);
    fp.arc(centre, inner, s, e1, kBlack);

    // Arrowhead at the start. Its straight edge is traced only where it sticks
    // out past the ring's rims; along the ring itself it merges with the ring.
    const auto arrow = arrowheadVertices(g, a);
    fp.brushFill(arrow, fore);
    fp.setLineColor(kBlack);
    fp.setFillColor(fore);
    fp.line(arrow[1], polar(g, inner, a + kOverlap));
    fp.line(arrow[0], polar(g, outer, a + kOverlap));
    fp.line(arrow[1], arrow[2]);
    fp.line(arrow[0], arrow[2]);

    // The notch is cut into the ring's end in the back colour.
    const auto notch = notchVertices(g, e);
    fp.setFillSolid(true);
    fp.brushFill(notch, back);
    fp.setLineColor(kBlack);
    fp.line(polar(g, inner, e), notch[2]);
    fp.line(polar(g, outer, e), notch[2]);
}

} // namespace

float indicatorRadius(int width, int height) {
    const int m = width > height ? height : width;
    const float r0 = float(m) / 2.0f - 1.0f;
    // One or two pixels stay free between the outline and the control's edge:
    // m/2 - 1 when m mod 4 is 1, m/2 - 2 otherwise. It is decided by comparing a
    // floored quotient with the truncated quotient of the rounded value, which
    // also fixes what the smallest sizes get.
    const long wholeHalf = std::lrint(r0) / 2;
    if (std::floor(r0 / 2.0f) == float(wholeHalf))
        return r0 - 1.0f;
    return r0;
}

FrameGeometry frameGeometry(int width, int height) {
    FrameGeometry g;
    g.cx = float(width) / 2.0f;
    g.cy = float(height) / 2.0f;
    g.r = indicatorRadius(width, height);
    return g;
}

float rotationAngle(int step) {
    float a = kHalfPi - float(step) * kTwoPi / 100.0f;
    if (a < 0.0f)
        a += kTwoPi;
    return a;
}

float ringEndAngle(float a) {
    float e = a + kRingLength;
    if (e > kTwoPi)
        e -= kTwoPi;
    return e;
}

QPoint roundedVertex(float x, float y) {
    // lrintf rounds in the current mode, which is to nearest with ties to even.
    return QPoint(int(std::lrint(x)), int(std::lrint(y)));
}

std::array<QPoint, 3> needleVertices(const FrameGeometry& g, float a) {
    float u = a + kThirdTurn;
    if (u > kTwoPi)
        u -= kTwoPi;
    float v = a - kThirdTurn;
    if (v < 0.0f)
        v += kTwoPi;
    // The base corners are written with sine and cosine swapped instead of as
    // polar points at a + 210 and a + 150 degrees; the rounding of the result
    // depends on doing it this way.
    return {rounded(polar(g, g.r, a)),
            roundedVertex(g.cx - (g.r * std::sin(u)) / 10.0f, g.cy - (g.r * std::cos(u)) / 10.0f),
            roundedVertex(g.cx + (g.r * std::sin(v)) / 10.0f, g.cy + (g.r * std::cos(v)) / 10.0f)};
}

std::array<QPoint, 3> arrowheadVertices(const FrameGeometry& g, float a) {
    float p = a - kArrowSweep;
    if (p < 0.0f)
        p += kTwoPi;
    return {rounded(polar(g, g.r, a + kOverlap)), rounded(polar(g, kArrowInner * g.r, a + kOverlap)),
            rounded(polar(g, kArrowTip * g.r, p))};
}

std::array<QPoint, 3> notchVertices(const FrameGeometry& g, float e) {
    float n = e - kNotchDepth;
    if (n < 0.0f)
        n += kTwoPi;
    return {rounded(polar(g, kOuterRim * g.r, e + kOverlap)),
            rounded(polar(g, kInnerRim * g.r, e + kOverlap)), rounded(polar(g, kNotchPoint * g.r, n))};
}

void renderFrame(QImage& buffer, const FrameInput& input, DrawState& state, const ColorResolver& resolve) {
    state.backColor = input.backColor;
    state.lineColor = input.foreColor;
    if (buffer.isNull())
        return; // a control of zero width or height has nothing to show

    buffer.fill(toQColor(resolve(input.backColor)));

    const FrameGeometry g = frameGeometry(buffer.width(), buffer.height());
    const float a = rotationAngle(input.step);

    FramePainter fp(buffer, state, resolve);
    switch (input.style) {
    case TwoToneDisc:
        drawTwoToneDisc(fp, g, a);
        break;
    case ClockHands:
        drawClockHands(fp, g, input.step, a);
        break;
    case Needle:
        drawNeedle(fp, g, input.foreColor, a);
        break;
    case RingArrow:
        drawRingArrow(fp, g, input.backColor, input.foreColor, a);
        break;
    default:
        break; // background only
    }
}

} // namespace activity
