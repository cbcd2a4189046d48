#pragma once

// The decor the layout lays over the whole editor: a faint film grain and the bevel of the outer frame.
// Neither takes the mouse.

#include "framework/graphics/icontrol.h"

// The grain texture tiled over the control from its top-left corner, one texel per design unit, each tile
// at opacity 0.045. Draws nothing without the texture or over an empty rectangle.
class GrainOverlay : public iplug::igraphics::IControl {
public:
    GrainOverlay(const iplug::igraphics::IRECT& bounds, iplug::igraphics::IBitmap noise);
    void Draw(iplug::igraphics::IGraphics& g) override;

private:
    iplug::igraphics::IBitmap mNoise;
};

// The frame's bevel: light top and left edges, dark bottom and right bands and a dark outline.
class ChassisFrame : public iplug::igraphics::IControl {
public:
    explicit ChassisFrame(const iplug::igraphics::IRECT& bounds);
    void Draw(iplug::igraphics::IGraphics& g) override;
};
