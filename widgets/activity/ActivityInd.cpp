// The activity indicator widget: properties, sizing and painting.
#include "ActivityInd.h"

#include <QColor>
#include <QGuiApplication>
#include <QMetaType>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QResizeEvent>

#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr quint32 kSystemColorFlag = 0x80000000u;
constexpr quint32 kSystemIndexMask = 0x00FFFFFFu;
constexpr quint32 kButtonFaceIndex = 15;

// The classic default desktop colour scheme, 0x00BBGGRR, by system colour index.
// Index 25 has no colour of its own and reads as black, like any index past the end.
constexpr std::array<quint32, 31> kClassicSystemColors = {
    0xC0C0C0, // 0  scroll bar
    0x808000, // 1  desktop
    0x800000, // 2  active caption
    0x808080, // 3  inactive caption
    0xC0C0C0, // 4  menu
    0xFFFFFF, // 5  window
    0x000000, // 6  window frame
    0x000000, // 7  menu text
    0x000000, // 8  window text
    0xFFFFFF, // 9  caption text
    0xC0C0C0, // 10 active border
    0xC0C0C0, // 11 inactive border
    0x808080, // 12 application workspace
    0x800000, // 13 highlight
    0xFFFFFF, // 14 highlighted text
    0xC0C0C0, // 15 button face (normally taken from the palette)
    0x808080, // 16 button shadow
    0x808080, // 17 disabled text
    0x000000, // 18 button text
    0xC0C0C0, // 19 inactive caption text
    0xFFFFFF, // 20 button highlight
    0x000000, // 21 3-D dark shadow
    0xC0C0C0, // 22 3-D light
    0x000000, // 23 tooltip text
    0xE1FFFF, // 24 tooltip background
    0x000000, // 25 (none)
    0xFF0000, // 26 hot-tracked item
    0xD08410, // 27 active caption gradient
    0xB5B5B5, // 28 inactive caption gradient
    0x800000, // 29 menu highlight
    0xC0C0C0, // 30 menu bar
};

quint32 toColorValue(const QColor& c) {
    return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}

[[noreturn]] void cannotLoad(const char* name, const QVariant& value, const char* type) {
    throw PropertyLoadError(QStringLiteral("Property \"%1\": cannot convert \"%2\" to a %3")
                                .arg(QLatin1String(name), value.toString(), QLatin1String(type))
                                .toStdString());
}

// Whole numbers pass as they are, numeric text is parsed (decimal, or hex with
// "0x"), fractions round half to even; anything else, or a value outside
// lo..hi, cannot be loaded.
qint64 loadInteger(const QVariant& value, qint64 lo, qint64 hi, const char* name, const char* type) {
    bool ok = false;
    qint64 n = 0;
    auto fromDouble = [&](double d) {
        ok = std::isfinite(d) && d > double(lo) - 1.0 && d < double(hi) + 1.0;
        if (ok)
            n = std::llrint(d);
    };

    switch (value.metaType().id()) {
    case QMetaType::Double:
    case QMetaType::Float:
        fromDouble(value.toDouble());
        break;
    case QMetaType::ULongLong: {
        const qulonglong u = value.toULongLong(&ok);
        ok = ok && u <= qulonglong(std::numeric_limits<qint64>::max());
        n = qint64(u);
        break;
    }
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString text = value.toString().trimmed();
        n = text.toLongLong(&ok, 10);
        if (!ok && text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            n = text.mid(2).toLongLong(&ok, 16);
        if (!ok) {
            const double d = text.toDouble(&ok);
            if (ok)
                fromDouble(d);
        }
        break;
    }
    default:
        n = value.toLongLong(&ok);
        break;
    }

    if (!ok || n < lo || n > hi)
        cannotLoad(name, value, type);
    return n;
}

qint32 loadInt32(const QVariant& value, const char* name) {
    return qint32(loadInteger(value, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(),
                              name, "32-bit integer"));
}

qint16 loadInt16(const QVariant& value, const char* name) {
    return qint16(loadInteger(value, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max(),
                              name, "16-bit integer"));
}

// Colours are 32-bit values that may have been stored signed or unsigned
// (0x8000000F and -2147483633 are the same colour).
quint32 loadColor(const QVariant& value, const char* name) {
    return quint32(loadInteger(value, std::numeric_limits<qint32>::min(), std::numeric_limits<quint32>::max(),
                               name, "32-bit colour value"));
}

} // namespace

ActivityInd::ActivityInd(QWidget* parent)
    : QWidget(parent) {
    // Every frame covers the whole control, so Qt need not clear it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    InitProperties();
}

quint32 ActivityInd::systemColor(quint32 index) {
    if (index == kButtonFaceIndex && qGuiApp)
        return toColorValue(QGuiApplication::palette().color(QPalette::Button));
    if (index < kClassicSystemColors.size())
        return kClassicSystemColors[index];
    return 0;
}

quint32 ActivityInd::XlatColor(quint32 lColor) const {
    if (lColor & kSystemColorFlag)
        return systemColor(lColor & kSystemIndexMask);
    return lColor;
}

void ActivityInd::SetStyle(qint32 NewStyle) {
    m_style = NewStyle;
    repaintNow();
    emit propertyChanged(QStringLiteral("Style"));
}

void ActivityInd::SetBackColor(quint32 NewBackColor) {
    m_backColor = NewBackColor;
    repaintNow();
    emit propertyChanged(QStringLiteral("BackColor"));
}

void ActivityInd::SetForeColor(quint32 NewForeColor) {
    m_foreColor = NewForeColor;
    repaintNow();
    emit propertyChanged(QStringLiteral("ForeColor"));
}

void ActivityInd::SetStep(qint32 NewStep) {
    if (NewStep < 0)
        NewStep = 0;
    else if (NewStep > 100)
        NewStep = 100;
    if (NewStep != m_step) {
        m_step = qint16(NewStep);
        repaintNow();
    }
    emit propertyChanged(QStringLiteral("Step"));
}

void ActivityInd::InitProperties() {
    m_style = kDefaultStyle;
    m_step = kDefaultStep;
    m_foreColor = kDefaultForeColor;
    m_backColor = kDefaultBackColor;
}

void ActivityInd::ReadProperties(const ActivityPropertyBag& bag) {
    m_style = loadInt32(bag.read(QStringLiteral("Style"), kDefaultStyle), "Style");
    m_step = loadInt16(bag.read(QStringLiteral("Step"), kDefaultStep), "Step");
    m_backColor = loadColor(bag.read(QStringLiteral("BackColor"), kDefaultBackColor), "BackColor");
    m_foreColor = loadColor(bag.read(QStringLiteral("ForeColor"), kDefaultForeColor), "ForeColor");
}

void ActivityInd::WriteProperties(ActivityPropertyBag& bag) const {
    bag.write(QStringLiteral("Style"), m_style, kDefaultStyle);
    bag.write(QStringLiteral("Step"), qint32(m_step), kDefaultStep);
    bag.write(QStringLiteral("BackColor"), m_backColor, kDefaultBackColor);
    bag.write(QStringLiteral("ForeColor"), m_foreColor, kDefaultForeColor);
}

void ActivityInd::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitBuffer();
    // The repaint that follows a resize comes from the platform and draws then.
    m_frameWaiting = false;
}

void ActivityInd::paintEvent(QPaintEvent*) {
    if (!m_frameWaiting)
        drawFrame();
    m_frameWaiting = false;
    QPainter painter(this);
    painter.drawImage(0, 0, m_actBuf);
}

void ActivityInd::repaintNow() {
    drawFrame();
    m_frameWaiting = true;
    update();
}

void ActivityInd::drawFrame() {
    // A hidden control gets its resize event only when it is shown; the buffer
    // must still match its size when a setter draws before that.
    fitBuffer();
    const activity::FrameInput input{m_style, m_step, m_backColor, m_foreColor};
    const activity::ColorResolver resolve = [this](quint32 c) { return XlatColor(c); };
    const activity::FrameCache::Key key =
        activity::FrameCache::keyFor(m_actBuf.size(), input, m_drawState, resolve);
    if (m_actBuf.isNull() || !m_frames.find(key, m_actBuf, m_drawState)) {
        activity::renderFrame(m_actBuf, input, m_drawState, resolve);
        if (!m_actBuf.isNull())
            m_frames.store(key, m_actBuf, m_drawState);
    }
    ++m_frameCount;
}

void ActivityInd::fitBuffer() {
    if (m_actBuf.size() == size())
        return;
    if (width() <= 0 || height() <= 0) {
        m_actBuf = QImage();
        return;
    }
    m_actBuf = QImage(size(), QImage::Format_RGB32);
    m_frames.clear(); // frames of the old size are of no more use
    // Not a frame, only keeps freshly allocated memory from ever being shown.
    m_actBuf.fill(Qt::black);
}
