#include "framework/graphics/basic_controls.h"

#include <algorithm>
#include <cmath>

namespace iplug::igraphics {

IPanelControl::IPanelControl(const IRECT& bounds, const IPattern& pattern, bool drawFrame)
    : IControl(bounds), mPattern(pattern), mDrawFrame(drawFrame) {
    SetIgnoreMouse(true);
}

void IPanelControl::Draw(IGraphics& g) {
    if (mPattern.mType == EPatternType::Solid && !mPattern.mStops.empty()) {
        g.FillRect(mPattern.mStops.front().mColor, GetRECT());
    } else {
        g.PathClear();
        g.PathRect(GetRECT());
        g.PathFill(mPattern);
    }
    if (mDrawFrame)
        g.DrawRect(COLOR_BLACK, GetRECT());
}

void IPanelControl::SetPattern(const IPattern& pattern) {
    mPattern = pattern;
    SetDirty(false);
}

ITextControl::ITextControl(const IRECT& bounds, const char* str, const IText& text, const IColor& bgColor)
    : IControl(bounds), mStr(str ? str : ""), mText(text), mBGColor(bgColor) {}

void ITextControl::Draw(IGraphics& g) {
    if (mBGColor.A > 0)
        g.FillRect(mBGColor, GetRECT());
    if (!mStr.empty())
        g.DrawText(mText, mStr.c_str(), GetRECT());
}

void ITextControl::SetStr(const char* str) {
    const std::string s = str ? str : "";
    if (s != mStr) {
        mStr = s;
        SetDirty(false);
    }
}

void ITextControl::SetText(const IText& text) {
    mText = text;
    SetDirty(false);
}

IButtonControlBase::IButtonControlBase(const IRECT& bounds, IActionFunction action)
    : IControl(bounds, std::move(action)) {}

void IButtonControlBase::OnMouseDown(float, float, const IMouseMod&) {
    SetValue(1.0);
    SetDirty(true);
    SetAnimation(DefaultAnimationFunc, DEFAULT_ANIMATION_DURATION);
}

void IButtonControlBase::OnEndAnimation() {
    SetValue(0.0);
    IControl::OnEndAnimation();
}

ISwitchControlBase::ISwitchControlBase(const IRECT& bounds, int paramIdx, IActionFunction action,
                                       int numStates)
    : IControl(bounds, paramIdx, std::move(action)), mNumStates(std::max(2, numStates)) {}

int ISwitchControlBase::GetSelectedIdx() const {
    return static_cast<int>(std::lround(GetValue() * static_cast<double>(mNumStates - 1)));
}

void ISwitchControlBase::OnMouseDown(float, float, const IMouseMod&) {
    const int next = (GetSelectedIdx() + 1) % mNumStates;
    SetValueFromUserInput(static_cast<double>(next) / static_cast<double>(mNumStates - 1));
}

} // namespace iplug::igraphics
