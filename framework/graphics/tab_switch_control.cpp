#include "framework/graphics/tab_switch_control.h"

#include <algorithm>

namespace iplug::igraphics {

IVTabSwitchControl::IVTabSwitchControl(const IRECT& bounds, int paramIdx, std::vector<std::string> labels,
                                       const char* label, const IVStyle& style, EVShape shape,
                                       EDirection direction)
    : ISwitchControlBase(bounds, paramIdx, nullptr, std::max<int>(2, static_cast<int>(labels.size()))),
      mTabLabels(std::move(labels)), mLabel(label ? label : ""), mStyle(style), mShape(shape),
      mDirection(direction) {}

IVTabSwitchControl::IVTabSwitchControl(const IRECT& bounds, IActionFunction action,
                                       std::vector<std::string> labels, const char* label,
                                       const IVStyle& style, EVShape shape, EDirection direction)
    : IVTabSwitchControl(bounds, kNoParameter, std::move(labels), label, style, shape, direction) {
    SetActionFunction(std::move(action));
}

const std::string& IVTabSwitchControl::GetLabelForButton(int index) const {
    static const std::string empty;
    return index >= 0 && index < NButtons() ? mTabLabels[static_cast<std::size_t>(index)] : empty;
}

int IVTabSwitchControl::GetButtonForPoint(float x, float y) const {
    for (int i = 0; i < NButtons(); ++i) {
        const IRECT r = mDirection == EDirection::Horizontal ? GetRECT().SubRectHorizontal(NButtons(), i)
                                                             : GetRECT().SubRectVertical(NButtons(), i);
        if (r.Contains(x, y))
            return i;
    }
    return -1;
}

void IVTabSwitchControl::DrawWidget(IGraphics& g) {
    const float radius = mStyle.roundness * 0.5f * std::min(GetRECT().W(), GetRECT().H());
    for (int i = 0; i < NButtons(); ++i) {
        const IRECT r = mDirection == EDirection::Horizontal ? GetRECT().SubRectHorizontal(NButtons(), i)
                                                             : GetRECT().SubRectVertical(NButtons(), i);
        const bool first = i == 0, last = i == NButtons() - 1;
        const float rl = mShape == EVShape::AllRounded || first ? radius : 0.f;
        const float rr = mShape == EVShape::AllRounded || last ? radius : 0.f;
        const float cr = mShape == EVShape::Rectangle ? 0.f : 1.f;
        g.FillRoundRect(i == GetSelectedIdx() ? mStyle.onColor : mStyle.offColor, r, rl * cr, rr * cr,
                        rr * cr, rl * cr);
        if (i == mMouseOverButton)
            g.FillRoundRect(mStyle.highlightColor, r, rl * cr, rr * cr, rr * cr, rl * cr);
        if (mStyle.drawFrame)
            g.DrawRoundRect(mStyle.frameColor, r, rl * cr, rr * cr, rr * cr, rl * cr, nullptr,
                            mStyle.frameThickness);
        g.DrawText(mStyle.labelText, GetLabelForButton(i).c_str(), r);
    }
}

void IVTabSwitchControl::OnMouseDown(float x, float y, const IMouseMod&) {
    const int index = GetButtonForPoint(x, y);
    if (index < 0)
        return;
    SetValueFromUserInput(NButtons() > 1 ? static_cast<double>(index) / static_cast<double>(NButtons() - 1)
                                         : 0.0);
}

void IVTabSwitchControl::OnMouseOver(float x, float y, const IMouseMod& mod) {
    IControl::OnMouseOver(x, y, mod);
    const int index = GetButtonForPoint(x, y);
    if (index != mMouseOverButton) {
        mMouseOverButton = index;
        SetDirty(false);
    }
}

void IVTabSwitchControl::OnMouseOut() {
    IControl::OnMouseOut();
    mMouseOverButton = -1;
    SetDirty(false);
}

} // namespace iplug::igraphics
