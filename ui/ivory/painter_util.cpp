#include "ui/ivory/painter_util.h"

namespace ivory {

using namespace iplug::igraphics;

void FillRoundVertical(IGraphics& g, const IRECT& r, float radius, float y0, const IColor& c0, float y1,
                       const IColor& c1) {
    g.PathClear();
    g.PathRoundRect(r, radius);
    g.PathFill(IPattern::CreateLinearGradient(r.L, y0, r.L, y1, {{c0, 0.f}, {c1, 1.f}}));
}

void FillRoundHorizontal(IGraphics& g, const IRECT& r, float radius, float x0, const IColor& c0, float x1,
                         const IColor& c1) {
    g.PathClear();
    g.PathRoundRect(r, radius);
    g.PathFill(IPattern::CreateLinearGradient(x0, r.T, x1, r.T, {{c0, 0.f}, {c1, 1.f}}));
}

IText Font(const char* font, float size, const IColor& color, EAlign align) {
    return IText(size, color, font, align, EVAlign::Middle);
}

} // namespace ivory
