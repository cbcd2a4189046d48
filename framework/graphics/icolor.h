#pragma once

// Colours, blends and fill patterns: IColor (A, R, G, B 0..255), IBlend (how a drawing call is composed)
// and IPattern (a solid colour or a multi-stop linear or radial gradient).

#include <vector>

namespace iplug::igraphics {

struct IColor {
    int A = 255;
    int R = 0;
    int G = 0;
    int B = 0;

    constexpr IColor() = default;
    constexpr IColor(int a, int r, int g, int b) : A(a), R(r), G(g), B(b) {}

    // The same colour with its alpha replaced (clamped to 0..255).
    IColor WithAlpha(int alpha) const;
    // The same colour with its alpha multiplied by opacity (0..1, clamped), rounded.
    IColor WithOpacity(float opacity) const;
    // Each channel moved from a towards b by t (clamped to 0..1) and rounded to the nearest integer, so
    // t = 0 gives a exactly and t = 1 gives b exactly.
    static IColor LinearInterpolateBetween(const IColor& a, const IColor& b, float t);

    constexpr bool operator==(const IColor&) const = default;
};

inline constexpr IColor COLOR_TRANSPARENT{0, 0, 0, 0};
inline constexpr IColor COLOR_BLACK{255, 0, 0, 0};
inline constexpr IColor COLOR_WHITE{255, 255, 255, 255};

enum class EBlend { Default, Add };

// How a drawing call is composed over what is already drawn; weight scales the call's opacity (0..1).
struct IBlend {
    EBlend mMethod = EBlend::Default;
    float mWeight = 1.f;
};

// The opacity a blend gives (1 without one).
inline float BlendWeight(const IBlend* blend) {
    return blend ? blend->mWeight : 1.f;
}

struct IColorStop {
    IColor mColor;
    float mOffset = 0.f; // 0..1 along the gradient
};

enum class EPatternType { Solid, Linear, Radial };

// A fill or stroke paint. Gradients take any number of stops in rising offset order; before the first stop
// the first colour holds and after the last the last colour holds. Coordinates are design units.
struct IPattern {
    EPatternType mType = EPatternType::Solid;
    std::vector<IColorStop> mStops; // a solid pattern holds its colour as the single stop
    // Linear: from (x1, y1) at offset 0 to (x2, y2) at offset 1. Radial: centre (x1, y1), radius r.
    float x1 = 0.f;
    float y1 = 0.f;
    float x2 = 0.f;
    float y2 = 0.f;
    float r = 0.f;

    IPattern(const IColor& color = COLOR_BLACK); // implicit: a colour is a solid pattern
    static IPattern CreateLinearGradient(float x1, float y1, float x2, float y2,
                                         std::vector<IColorStop> stops);
    static IPattern CreateRadialGradient(float cx, float cy, float radius, std::vector<IColorStop> stops);

    // The colour at an offset along the gradient (each channel rounded, as IColor::LinearInterpolateBetween).
    IColor ColorAt(float offset) const;
    int NStops() const { return static_cast<int>(mStops.size()); }
};

} // namespace iplug::igraphics
