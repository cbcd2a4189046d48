#pragma once

// InteractionMotion: the hover fade and press pulse every animated control of the kit carries. Both run on
// the steady clock (the graphics context's, which tests replace) and are advanced when the control is asked
// whether it is dirty, so the framework redraws exactly as long as one runs and no timer is needed.
//
// Hover fade: smoothstep from the amount it had when it started to its target (1 hovered, 0 not) over
// 95 ms. Press pulse: 1 at the press, falling as (1 - t)^3 over 85 ms.

#include "framework/graphics/igraphics.h"

#include <chrono>

namespace ivory {

using iplug::igraphics::TimePoint;

inline constexpr std::chrono::milliseconds kHoverFade{95};
inline constexpr std::chrono::milliseconds kPressPulse{85};

struct InteractionMotion {
    TimePoint hoverStart; // start of the current hover fade
    TimePoint pressStart; // start of the current press pulse
    float hover = 0.f;    // 0..1
    float hoverFrom = 0.f;
    float hoverTo = 0.f; // 1 hovered, 0 not
    float press = 0.f;   // 0..1
    bool hoverAnimating = false;
    bool pressAnimating = false;

    // Both time points start at now, with nothing running.
    explicit InteractionMotion(TimePoint now = iplug::igraphics::Clock::now())
        : hoverStart(now), pressStart(now) {}

    // Starts a fade towards the new target from the current amount; nothing when it is the target already.
    void SetHovered(bool hovered, TimePoint now);
    // Restarts the pulse at 1 (also during a running one).
    void Press(TimePoint now);
    // Moves both animations to now; true when either was running before (so this frame still draws it).
    bool Advance(TimePoint now);
};

} // namespace ivory
