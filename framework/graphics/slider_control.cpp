#include "framework/graphics/slider_control.h"

#include <algorithm>

namespace iplug::igraphics {

ISliderControlBase::ISliderControlBase(const IRECT& bounds, int paramIdx, EDirection dir, double gearing,
                                       float handleSize)
    : IControl(bounds, paramIdx), mDirection(dir), mGearing(gearing), mHandleSize(handleSize) {
    OnResize();
}

ISliderControlBase::ISliderControlBase(const IRECT& bounds, IActionFunction action, EDirection dir,
                                       double gearing, float handleSize)
    : IControl(bounds, std::move(action)), mDirection(dir), mGearing(gearing), mHandleSize(handleSize) {
    OnResize();
}

void ISliderControlBase::OnResize() {
    mTrackBounds = mDirection == EDirection::Horizontal ? GetRECT().GetHPadded(-0.5f * mHandleSize)
                                                        : GetRECT().GetVPadded(-0.5f * mHandleSize);
}

void ISliderControlBase::OnMouseDown(float, float, const IMouseMod&) {
    mMouseDown = true;
    BeginParamGesture();
}

void ISliderControlBase::OnMouseUp(float, float, const IMouseMod&) {
    if (!mMouseDown)
        return;
    mMouseDown = false;
    EndParamGesture();
    SetDirty(false);
}

void ISliderControlBase::OnMouseDrag(float, float, float dX, float dY, const IMouseMod& mod) {
    if (!mMouseDown)
        return;
    const bool horizontal = mDirection == EDirection::Horizontal;
    const double length = std::max(1.f, horizontal ? mTrackBounds.W() : mTrackBounds.H());
    const double gearing = (mod.C || mod.S) ? mGearing * 10.0 : mGearing;
    // Up and right raise the value.
    const double delta = horizontal ? dX : -dY;
    SetValue(GetValue() + delta / (length * std::max(gearing, 1e-6)));
    SetDirty(true);
}

void ISliderControlBase::OnMouseDblClick(float, float, const IMouseMod&) {
    if (const IParam* param = GetParam())
        SetValueFromUserInput(param->GetDefault(true));
}

} // namespace iplug::igraphics
