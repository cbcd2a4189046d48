// Pitch correction, time quantize and unison: the whole-selection operations behind the macros.

#include "engine/model/edit_session_apply.h"

#include <algorithm>
#include <cmath>

namespace np {

bool EditSession::applyPitchCorrection(std::span<const std::uint32_t> ids, double amount, double flatten) {
    if (!std::isfinite(amount) || !std::isfinite(flatten))
        return false;
    const double a = std::clamp(amount, 0.0, 1.0);
    const double drift = flatten < 0.0 ? 1.0 : 1.0 - std::min(flatten, 1.0);
    return applyEdit(ids, [&](const Note& n) {
        auto f = fieldsOf(n);
        if (!n.pitched)
            return f;
        const double current = n.pitch + n.pitchOffset;
        const double target = nearestScaleDegree(current, keyScale_, a4Hz_);
        f.pitchOffset = std::clamp(n.pitchOffset + (target - current) * a, -24.0, 24.0);
        f.driftScale = drift;
        return f;
    });
}

bool EditSession::applyTimeQuantize(std::span<const std::uint32_t> ids, std::int64_t gridSamples,
                                    double strength) {
    if (gridSamples <= 0 || ids.empty() || !std::isfinite(strength))
        return false;
    const long double s = std::clamp(strength, 0.0, 1.0);
    const long double grid = static_cast<long double>(gridSamples);
    const std::int64_t limit = timelineLimitFrames();
    return applyEdit(ids, [&](const Note& n) {
        auto f = fieldsOf(n);
        const long double start = static_cast<long double>(n.start);
        const long double q = std::round(start / grid); // halves away from zero
        const long double x = std::round((q * grid - start) * s + start);
        const std::int64_t latest = std::max<std::int64_t>(limit - n.length, 0);
        f.start = x < 0 ? 0 : (x > static_cast<long double>(latest) ? latest : static_cast<std::int64_t>(x));
        return f;
    });
}

bool EditSession::applyUnison(std::span<const std::uint32_t> ids, double targetMidi) {
    if (!std::isfinite(targetMidi))
        return false;
    return applyEdit(ids, [&](const Note& n) {
        auto f = fieldsOf(n);
        if (n.pitched)
            f.pitchOffset = std::clamp(targetMidi - n.pitch, -24.0, 24.0);
        return f;
    });
}

} // namespace np
