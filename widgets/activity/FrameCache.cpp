// Frames of the activity indicator that were drawn before, kept by what they were drawn from.
#include "FrameCache.h"

namespace activity {

bool FrameCache::Key::operator==(const Key& other) const {
    return size == other.size && input.style == other.input.style && input.step == other.input.step &&
           input.backColor == other.input.backColor && input.foreColor == other.input.foreColor &&
           fillSolid == other.fillSolid && fillColor == other.fillColor &&
           resolvedBack == other.resolvedBack && resolvedFore == other.resolvedFore &&
           resolvedFill == other.resolvedFill;
}

FrameCache::Key FrameCache::keyFor(const QSize& size, const FrameInput& input, const DrawState& before,
                                   const ColorResolver& resolve) {
    Key key;
    key.size = size;
    key.input = input;
    key.fillSolid = before.fillSolid;
    key.fillColor = before.fillColor;
    key.resolvedBack = resolve(input.backColor);
    key.resolvedFore = resolve(input.foreColor);
    key.resolvedFill = resolve(before.fillColor);
    return key;
}

bool FrameCache::find(const Key& key, QImage& frame, DrawState& after) const {
    for (const Entry& entry : entries)
        if (entry.key == key) {
            frame = entry.frame;
            after = entry.after;
            return true;
        }
    return false;
}

void FrameCache::store(const Key& key, const QImage& frame, const DrawState& after) {
    if (entries.size() >= MaxFrames)
        entries.removeFirst();
    entries.append({key, frame, after});
}

} // namespace activity
