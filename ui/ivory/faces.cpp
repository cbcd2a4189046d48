// The raised and recessed surfaces every control is built from: button faces, hover and press washes,
// wells and soft panels.

#include "ui/ivory/painter_util.h"
#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"

#include <algorithm>
#include <cmath>

namespace ivory {

using namespace iplug::igraphics;

void DrawButtonFace(IGraphics& g, const IRECT& r, float radius) {
    const IBlend shadow{EBlend::Default, 0.175f};
    g.DrawFastDropShadow(r, r.GetPadded(7.f), 1.f, radius, 2.f, &shadow);
    g.FillRoundRect(kBtn, r, radius);
    FillRoundVertical(g, r, radius, r.T, kHi, r.T + 1.5f, kHi.WithAlpha(0));
    FillRoundVertical(g, r, radius, r.B - 3.f, IColor(0, 0, 0, 0), r.B, IColor(100, 0, 0, 0));
    g.DrawRoundRect(kBtnEdge, r, radius);
}

void HoverPress(IGraphics& g, const IControl& control, const IRECT& r, float radius, float hover, float press,
                bool accent) {
    if (control.IsDisabled())
        return;
    const float h = std::clamp(hover, 0.f, 1.f);
    const float p = std::clamp(press, 0.f, 1.f);
    if (h > 0.f) {
        g.FillRoundRect(Alpha(COLOR_WHITE, 10.f * h), r, radius);
        const IColor outline = accent ? Alpha(kAccentHi, 38.f * h) : Alpha(kHoverOutline, 26.f * h);
        g.DrawRoundRect(outline, r.GetPadded(-0.5f), std::max(radius - 0.5f, 1.f));
    }
    if (p > 0.f)
        g.FillRoundRect(Alpha(COLOR_BLACK, 48.f * p), r, radius);
}

void DrawWell(IGraphics& g, const IRECT& r, float radius) {
    const IColor clear(0, 0, 0, 0);
    FillRoundVertical(g, r, radius, r.T, kRecess2, r.B, kRecess);
    FillRoundVertical(g, r, radius, r.T, IColor(150, 0, 0, 0), r.T + 4.5f, clear);
    FillRoundHorizontal(g, r, radius, r.L, IColor(55, 0, 0, 0), r.L + 5.f, clear);
    FillRoundHorizontal(g, r, radius, r.R - 5.f, clear, r.R, IColor(55, 0, 0, 0));
    FillRoundVertical(g, r, radius, r.B - 1.5f, kHi.WithAlpha(0), r.B, kHi);
    g.DrawRoundRect(IColor(120, 0, 0, 0), r, radius);
}

void DrawSoftPanel(IGraphics& g, const IRECT& r, float radius, int variant) {
    const float k = variant <= 0 ? 1.f : (variant == 1 ? 1.7f : 2.6f);
    const IBlend wide{EBlend::Default, 0.105f};
    const IBlend tight{EBlend::Default, 0.21f};
    g.DrawFastDropShadow(r, r.GetPadded(1.5f * k + 6.f * k + 4.f), 1.5f * k, radius, 6.f * k, &wide);
    g.DrawFastDropShadow(r, r.GetPadded(7.f), 1.f, radius, 2.f, &tight);
    FillRoundVertical(g, r, radius, r.T, variant >= 2 ? kShelf : kBtn, r.B, kSurface);
    FillRoundVertical(g, r, radius, r.T, kHi, r.T + 1.5f, kHi.WithAlpha(0));
    FillRoundVertical(g, r, radius, r.B - 2.5f, IColor(0, 0, 0, 0), r.B, IColor(100, 0, 0, 0));
    g.DrawRoundRect(kBtnEdge, r, radius);
}

} // namespace ivory
