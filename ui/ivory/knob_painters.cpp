// The volume slider, the wordmark, and the charcoal knob with the inspector's parameter cell around it.

#include "ui/ivory/painter_util.h"
#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ivory {

using namespace iplug::igraphics;

namespace {

// A point at distance radius from (cx, cy) along an angle in degrees (0 up, clockwise).
void Polar(float cx, float cy, float radius, float degrees, float& x, float& y) {
    const float rad = degrees * std::numbers::pi_v<float> / 180.f;
    x = cx + radius * std::sin(rad);
    y = cy - radius * std::cos(rad);
}

} // namespace

void DrawVol(IGraphics& g, const IRECT& r, float value, float hover, float press) {
    const float v = std::clamp(value, 0.f, 1.f);
    const float h = std::clamp(hover, 0.f, 1.f);
    const float p = std::clamp(press, 0.f, 1.f);
    const IRECT track(r.L + 10.f, r.MH() - 6.f, r.R - 10.f, r.MH() + 6.f);
    DrawWell(g, track, 6.f);
    const float x = track.L + v * track.W();
    const IRECT fill(track.L, r.MH() - 4.f, x, r.MH() + 4.f);
    if (fill.W() > 0.f) {
        const IBlend shadow{EBlend::Default, 0.175f};
        g.DrawFastDropShadow(fill, fill.GetPadded(7.f), 1.f, 4.f, 3.f, &shadow);
        FillRoundHorizontal(g, fill, 4.f, fill.L, kAccent, fill.R, kAccentHi);
        FillRoundVertical(g, fill, 4.f, fill.T, Alpha(COLOR_WHITE, 60.f), fill.T + 1.2f,
                          Alpha(COLOR_WHITE, 0.f));
    }
    const float cy = r.MH();
    const float radius = 10.f + 0.4f * h - 0.35f * p;
    const IRECT thumb(x - radius, cy - radius, x + radius, cy + radius);
    const IBlend shadow{EBlend::Default, 0.245f};
    g.DrawFastDropShadow(thumb, thumb.GetPadded(9.f), 1.5f, radius, 3.5f, &shadow);
    g.PathClear();
    g.PathCircle(x, cy, radius);
    g.PathFill(IPattern::CreateRadialGradient(x, cy, radius,
                                              {{IColor(255, 232, 233, 236), 0.f},
                                               {IColor(255, 196, 198, 202), 0.45f},
                                               {IColor(255, 150, 152, 157), 0.82f},
                                               {IColor(255, 120, 122, 127), 1.f}}));
    // The specular spot: a small soft highlight up and to the left of the centre.
    const float sx = x - 0.32f * radius, sy = cy - 0.36f * radius;
    g.PathClear();
    g.PathCircle(sx, sy, 0.42f * radius);
    g.PathFill(IPattern::CreateRadialGradient(
        sx, sy, 0.42f * radius, {{Alpha(COLOR_WHITE, 150.f), 0.f}, {Alpha(COLOR_WHITE, 0.f), 1.f}}));
    g.DrawCircle(kKnobEdge, x, cy, radius);
    if (h > 0.f)
        g.DrawCircle(Alpha(kAccentHi, 105.f * h), x, cy, radius + 1.8f, nullptr, 1.1f);
}

void DrawWordmark(IGraphics& g, const IRECT& r, const IBitmap& brandIcon) {
    const IRECT tile(r.L, r.MH() - 12.f, r.L + 24.f, r.MH() + 12.f);
    if (brandIcon.IsValid()) {
        g.DrawFittedBitmap(brandIcon, tile);
    } else {
        // Without the icon: a button tile with an accent stroke, a rising curve through a note head.
        g.FillRoundRect(kBtn, tile, 6.f);
        g.PathClear();
        g.PathMoveTo(tile.L + 5.f, tile.B - 8.f);
        g.PathCubicBezierTo(tile.L + 10.f, tile.B - 8.f, tile.L + 12.f, tile.T + 6.f, tile.R - 5.f,
                            tile.T + 7.f);
        IStrokeOptions round;
        round.mCapOption = ELineCap::Round;
        g.PathStroke(kAccentHi, 3.f, round);
    }
    const IRECT word(r.L + 32.f, r.T, r.R, r.B);
    const IText style = Font(kFontBold, 21.f, kInk, EAlign::Near);
    g.DrawText(style.WithFGColor(IColor(110, 0, 0, 0)), "Corvalinth", word.GetVShifted(0.7f));
    g.DrawText(style, "Corvalinth", word);
}

IRECT KnobSquare(const IRECT& cell, bool compact) {
    float d = 0.8f * cell.H();
    if (!compact)
        d = std::min(d, 0.46f * cell.W());
    d = std::max(std::min(d, 58.f), 1.f);
    const float cx = cell.L + 2.f + 0.5f * d;
    return IRECT(cx - 0.5f * d, cell.MH() - 0.5f * d, cx + 0.5f * d, cell.MH() + 0.5f * d);
}

void DrawCharcoalKnob(IGraphics& g, const IRECT& r, float fill, float anchor) {
    const float d = std::min(r.W(), r.H());
    const float cx = r.MW(), cy = r.MH();
    const float from = KnobAngle(std::clamp(anchor, 0.f, 1.f));
    const float to = KnobAngle(std::clamp(fill, 0.f, 1.f));
    // Eleven ticks around the rim, one every 27 degrees.
    for (int i = 0; i <= 10; ++i) {
        float x0 = 0.f, y0 = 0.f, x1 = 0.f, y1 = 0.f;
        Polar(cx, cy, 0.425f * d, KnobAngle(static_cast<float>(i) / 10.f), x0, y0);
        Polar(cx, cy, 0.48f * d, KnobAngle(static_cast<float>(i) / 10.f), x1, y1);
        g.DrawLine(kTick, x0, y0, x1, y1, nullptr, std::max(1.f, 0.02f * d));
    }
    const float arcR = 0.385f * d;
    g.DrawArc(kTrack, cx, cy, arcR, -135.f, 135.f, nullptr, 0.05f * d);
    if (std::abs(to - from) > 0.01f) {
        const float lo = std::min(from, to), hi = std::max(from, to);
        g.DrawArc(kAccentSoft, cx, cy, arcR, lo, hi, nullptr, 0.07f * d);
        g.DrawArc(kAccent, cx, cy, arcR, lo, hi, nullptr, 0.035f * d);
    }
    const float body = KnobRadius(d);
    const IRECT bodyRect(cx - body, cy - body, cx + body, cy + body);
    const IBlend shadow{EBlend::Default, 0.175f};
    g.DrawFastDropShadow(bodyRect, bodyRect.GetPadded(20.f), 5.f, body, 11.f, &shadow);
    g.PathClear();
    g.PathCircle(cx, cy, body);
    g.PathFill(IPattern::CreateLinearGradient(cx, cy - body, cx, cy + body,
                                              {{IColor(255, 122, 125, 130), 0.f}, {kKnobEdge, 1.f}}));
    const float inner = 0.354f * d;
    g.PathClear();
    g.PathCircle(cx, cy, inner);
    // Lit from above: the gradient's centre sits above the knob's.
    g.PathFill(
        IPattern::CreateRadialGradient(cx, cy - 0.45f * inner, 1.45f * inner,
                                       {{kKnobA, 0.f}, {IColor(255, 48, 52, 56), 0.55f}, {kKnobB, 1.f}}));
    g.DrawArc(Alpha(COLOR_WHITE, 30.f), cx, cy, inner - 1.f, -52.f, 52.f, nullptr, 1.f);
    g.DrawCircle(kKnobEdge, cx, cy, body);
    float x0 = 0.f, y0 = 0.f, x1 = 0.f, y1 = 0.f;
    Polar(cx, cy, 0.216f * body, to, x0, y0);
    Polar(cx, cy, 0.765f * body, to, x1, y1);
    IStrokeOptions round;
    round.mCapOption = ELineCap::Round;
    g.PathClear();
    g.PathMoveTo(x0, y0);
    g.PathLineTo(x1, y1);
    g.PathStroke(kKnobInd, std::max(1.f, 0.035f * d), round);
}

void DrawParamCell(IGraphics& g, const IRECT& r, const ParamCell& cell) {
    const IRECT knob = KnobSquare(r, cell.compact);
    DrawCharcoalKnob(g, knob, cell.fill, cell.anchor);
    if (!cell.active)
        g.FillCircle(IColor(140, 22, 24, 26), knob.MW(), knob.MH(), 0.55f * knob.W());
    const float x = knob.R + 10.f;
    g.DrawText(Font(kFontSemiBold, 17.f, cell.active ? kInk : kFaint, EAlign::Near), cell.label,
               IRECT(x, r.MH() - 19.f, r.R, r.MH() - 1.f));
    const IColor valueColor = !cell.active ? kFaint.WithAlpha(120) : (cell.accent ? kAccentHi : kFaint);
    g.DrawText(Font(kFontMono, 15.f, valueColor, EAlign::Near), cell.value,
               IRECT(x, r.MH() + 2.f, r.R, r.MH() + 20.f));
}

} // namespace ivory
