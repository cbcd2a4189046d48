#pragma once

// Small drawing helpers the painters share (not part of the kit's interface).

#include "framework/graphics/igraphics.h"

#include <cmath>

namespace ivory {

// The colour with its alpha replaced by round(alpha), clamped to 0..255.
inline iplug::igraphics::IColor Alpha(const iplug::igraphics::IColor& c, float alpha) {
    return c.WithAlpha(static_cast<int>(std::lround(alpha)));
}

// Fills the rounded rectangle r with a two-stop gradient running from y0 (c0) to y1 (c1); outside that
// span the end colours hold.
void FillRoundVertical(iplug::igraphics::IGraphics& g, const iplug::igraphics::IRECT& r, float radius,
                       float y0, const iplug::igraphics::IColor& c0, float y1,
                       const iplug::igraphics::IColor& c1);
// The same from x0 (c0) to x1 (c1).
void FillRoundHorizontal(iplug::igraphics::IGraphics& g, const iplug::igraphics::IRECT& r, float radius,
                         float x0, const iplug::igraphics::IColor& c0, float x1,
                         const iplug::igraphics::IColor& c1);
// A text style of the kit: font, size, colour and alignment, vertically centred.
iplug::igraphics::IText Font(const char* font, float size, const iplug::igraphics::IColor& color,
                             iplug::igraphics::EAlign align = iplug::igraphics::EAlign::Center);

} // namespace ivory
