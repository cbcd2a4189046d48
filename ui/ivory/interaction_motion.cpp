#include "ui/ivory/interaction_motion.h"

#include <algorithm>

namespace ivory {
namespace {

// Progress of an animation of the given length started at start, clamped to 0..1.
float Progress(TimePoint start, TimePoint now, std::chrono::milliseconds length) {
    const double ms = std::chrono::duration<double, std::milli>(now - start).count();
    return static_cast<float>(std::clamp(ms / static_cast<double>(length.count()), 0.0, 1.0));
}

} // namespace

void InteractionMotion::SetHovered(bool hovered, TimePoint now) {
    const float target = hovered ? 1.f : 0.f;
    if (hoverTo == target)
        return;
    Advance(now);
    hoverFrom = hover;
    hoverTo = target;
    hoverStart = now;
    hoverAnimating = true;
}

void InteractionMotion::Press(TimePoint now) {
    press = 1.f;
    pressStart = now;
    pressAnimating = true;
}

bool InteractionMotion::Advance(TimePoint now) {
    const bool wasRunning = hoverAnimating || pressAnimating;
    if (hoverAnimating) {
        const float t = Progress(hoverStart, now, kHoverFade);
        hover = hoverFrom + (hoverTo - hoverFrom) * t * t * (3.f - 2.f * t);
        hoverAnimating = t < 1.f;
    }
    if (pressAnimating) {
        const float t = Progress(pressStart, now, kPressPulse);
        press = (1.f - t) * (1.f - t) * (1.f - t);
        pressAnimating = t < 1.f;
    }
    return wasRunning;
}

} // namespace ivory
