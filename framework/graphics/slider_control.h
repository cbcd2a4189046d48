#pragma once

// ISliderControlBase: a slider dragged relatively. The value moves by the drag along the slider's
// direction divided by (track length x gearing): with gearing 4 a full sweep takes four track lengths
// of travel; Ctrl or Shift (fine control) makes it ten times slower. A press does not move the value;
// the drag is one host gesture on a linked parameter; a double-click restores its default.

#include "framework/graphics/icontrol.h"

namespace iplug::igraphics {

enum class EDirection { Vertical, Horizontal };

inline constexpr double DEFAULT_GEARING = 4.0;

class ISliderControlBase : public IControl {
public:
    ISliderControlBase(const IRECT& bounds, int paramIdx = kNoParameter,
                       EDirection dir = EDirection::Vertical, double gearing = DEFAULT_GEARING,
                       float handleSize = 0.f);
    ISliderControlBase(const IRECT& bounds, IActionFunction action, EDirection dir = EDirection::Vertical,
                       double gearing = DEFAULT_GEARING, float handleSize = 0.f);

    void OnMouseDown(float x, float y, const IMouseMod& mod) override;
    void OnMouseUp(float x, float y, const IMouseMod& mod) override;
    void OnMouseDrag(float x, float y, float dX, float dY, const IMouseMod& mod) override;
    void OnMouseDblClick(float x, float y, const IMouseMod& mod) override;
    void OnResize() override;

    bool IsDragging() const { return mMouseDown; }
    EDirection GetDirection() const { return mDirection; }
    double GetGearing() const { return mGearing; }
    // The part of the rectangle the handle travels along (the rectangle less the handle size).
    const IRECT& GetTrackBounds() const { return mTrackBounds; }

protected:
    EDirection mDirection;
    double mGearing;
    float mHandleSize;
    IRECT mTrackBounds;
    bool mMouseDown = false;
};

} // namespace iplug::igraphics
