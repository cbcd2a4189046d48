#pragma once

// ICornerResizerControl: the grip in the window's bottom-right corner. Dragging it rescales the editor
// (scale mode; controls keep their design rectangles) within the scale constraints; the window follows.

#include "framework/graphics/icontrol.h"

namespace iplug::igraphics {

class ICornerResizerControl : public IControl {
public:
    ICornerResizerControl(const IRECT& bounds, float size, const IColor& color, const IColor& mouseOverColor,
                          const IColor& dragColor);

    // Keeps the grip in the corner of a context of this design size.
    void PlaceInCorner(int w, int h);
    bool IsDragging() const { return mDragging; }

    void Draw(IGraphics& g) override;
    void OnMouseDown(float x, float y, const IMouseMod& mod) override;
    void OnMouseUp(float x, float y, const IMouseMod& mod) override;
    void OnMouseDrag(float x, float y, float dX, float dY, const IMouseMod& mod) override;
    void OnMouseOver(float x, float y, const IMouseMod& mod) override;
    void OnMouseOut() override;

private:
    float mSize;
    IColor mColor;
    IColor mMouseOverColor;
    IColor mDragColor;
    bool mDragging = false;
    // Window pixels of the press and the scale then; the new scale follows the pointer in window pixels.
    float mPressWindowX = 0.f;
    float mPressWindowY = 0.f;
    float mPressScale = 1.f;
};

} // namespace iplug::igraphics
