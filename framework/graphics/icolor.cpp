#include "framework/graphics/icolor.h"

#include <algorithm>
#include <cmath>

namespace iplug::igraphics {

IColor IColor::WithAlpha(int alpha) const {
    return {std::clamp(alpha, 0, 255), R, G, B};
}

IColor IColor::WithOpacity(float opacity) const {
    const float o = std::clamp(opacity, 0.f, 1.f);
    return {static_cast<int>(std::lround(static_cast<float>(A) * o)), R, G, B};
}

IColor IColor::LinearInterpolateBetween(const IColor& a, const IColor& b, float t) {
    t = std::clamp(t, 0.f, 1.f);
    auto mix = [t](int x, int y) {
        return static_cast<int>(std::lround(static_cast<float>(x) + (static_cast<float>(y - x)) * t));
    };
    return {mix(a.A, b.A), mix(a.R, b.R), mix(a.G, b.G), mix(a.B, b.B)};
}

IPattern::IPattern(const IColor& color) : mStops{{color, 0.f}} {}

IPattern IPattern::CreateLinearGradient(float x1, float y1, float x2, float y2,
                                        std::vector<IColorStop> stops) {
    IPattern p;
    p.mType = EPatternType::Linear;
    p.mStops = std::move(stops);
    p.x1 = x1;
    p.y1 = y1;
    p.x2 = x2;
    p.y2 = y2;
    return p;
}

IPattern IPattern::CreateRadialGradient(float cx, float cy, float radius, std::vector<IColorStop> stops) {
    IPattern p;
    p.mType = EPatternType::Radial;
    p.mStops = std::move(stops);
    p.x1 = cx;
    p.y1 = cy;
    p.r = radius;
    return p;
}

IColor IPattern::ColorAt(float offset) const {
    if (mStops.empty())
        return COLOR_TRANSPARENT;
    if (offset <= mStops.front().mOffset)
        return mStops.front().mColor;
    for (std::size_t i = 1; i < mStops.size(); ++i) {
        const IColorStop& a = mStops[i - 1];
        const IColorStop& b = mStops[i];
        if (offset <= b.mOffset) {
            const float span = b.mOffset - a.mOffset;
            // Two stops at one offset make a hard step: the later colour holds from there on.
            const float t = span > 0.f ? (offset - a.mOffset) / span : 1.f;
            return IColor::LinearInterpolateBetween(a.mColor, b.mColor, t);
        }
    }
    return mStops.back().mColor;
}

} // namespace iplug::igraphics
