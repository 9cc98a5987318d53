#pragma once

#include "ActivityRenderer.h"

#include <QImage>
#include <QList>
#include <QSize>

namespace activity {

// Frames already drawn, by everything they were drawn from. The indicator turns through the
// same eleven steps ten times a second while the utility works; each frame is drawn once and
// shown from here after that.
class FrameCache {
public:
    struct Key {
        QSize size;
        FrameInput input;
        bool fillSolid = false; // the fill a style left behind, which the next frame starts with
        quint32 fillColor = 0;
        quint32 resolvedBack = 0; // the colours as they resolve now (system colours follow the palette)
        quint32 resolvedFore = 0;
        quint32 resolvedFill = 0;

        bool operator==(const Key& other) const;
    };

    static Key keyFor(const QSize& size, const FrameInput& input, const DrawState& before,
                      const ColorResolver& resolve);

    // The frame and the drawing state it leaves, when it was drawn before.
    bool find(const Key& key, QImage& frame, DrawState& after) const;
    void store(const Key& key, const QImage& frame, const DrawState& after);
    void clear() { entries.clear(); }

private:
    static constexpr int MaxFrames = 64;
    struct Entry {
        Key key;
        QImage frame;
        DrawState after;
    };
    QList<Entry> entries;
};

} // namespace activity
