#pragma once

#include <QImage>
#include <QPoint>
#include <QtGlobal>

#include <array>
#include <functional>

// Frame drawing for the activity indicator. The geometry is computed in single
// precision and polygon vertices are rounded half to even, so that a frame comes
// out pixel for pixel the same on every machine.
namespace activity {

// Single-precision constants; the pictures depend on these exact values.
constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kHalfPi = kPi / 2.0f;
// Pies and arcs never start or end below this angle (about 0.3 degrees), so a
// shape that starts at 3 o'clock is drawn the same as one just past it.
constexpr float kMinArcAngle = 0.005f;

enum Style : qint32 {
    TwoToneDisc = 0,
    ClockHands = 1,
    Needle = 2,
    RingArrow = 3,
};

// The back buffer's drawing state. It outlives a frame: a frame resets only the
// background and line colours, so whatever fill a style leaves behind is what
// the next frame starts with. Colours are kept as given (system colour indices
// included) and resolved only when something is drawn with them.
struct DrawState {
    quint32 backColor = 0x8000000F; // button face
    quint32 lineColor = 0x80000012; // button text
    bool fillSolid = false;
    quint32 fillColor = 0;
};

struct FrameGeometry {
    float cx = 0;
    float cy = 0;
    float r = 0;
};

// What one frame is drawn from.
struct FrameInput {
    qint32 style = TwoToneDisc;
    qint16 step = 0;
    quint32 backColor = 0;
    quint32 foreColor = 0;
};

// Turns a colour value (plain 0x00BBGGRR or a system colour index with bit 31
// set) into plain 0x00BBGGRR.
using ColorResolver = std::function<quint32(quint32)>;

// Symbol radius for a buffer of the given pixel size: sized by the shorter side.
float indicatorRadius(int width, int height);
// Centre and radius of the symbol in a buffer of the given pixel size.
FrameGeometry frameGeometry(int width, int height);
// Rotation angle in radians for a Step value (0 points to 12 o'clock, the symbol
// turns clockwise as the value rises); wrapped into range once only.
float rotationAngle(int step);
// End angle of the ring arrow's ring that starts at angle a (281.25 degrees on).
float ringEndAngle(float a);

// Rounds one vertex, halves going to the even neighbour.
QPoint roundedVertex(float x, float y);

// Tip, then the two base corners near the centre.
std::array<QPoint, 3> needleVertices(const FrameGeometry& g, float a);
// A1 (outer corner), A2 (inner corner), A3 (tip, pointing clockwise).
std::array<QPoint, 3> arrowheadVertices(const FrameGeometry& g, float a);
// N1 (outer corner), N2 (inner corner), N3 (point, inside the ring); e is the
// ring's end angle as returned by ringEndAngle().
std::array<QPoint, 3> notchVertices(const FrameGeometry& g, float e);

// Draws one complete frame into buffer and updates state as the frame leaves it.
// An unknown style leaves just the cleared background.
void renderFrame(QImage& buffer, const FrameInput& input, DrawState& state, const ColorResolver& resolve);

} // namespace activity
