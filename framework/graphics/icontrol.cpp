#include "framework/graphics/icontrol.h"

#include <algorithm>

namespace iplug::igraphics {

IControl::IControl(const IRECT& bounds, int paramIdx, IActionFunction action)
    : mRECT(bounds), mTargetRECT(bounds), mParamIdx(paramIdx), mActionFunc(std::move(action)) {}

IControl::IControl(const IRECT& bounds, IActionFunction action)
    : IControl(bounds, kNoParameter, std::move(action)) {}

bool IControl::IsDirty() {
    return mDirty || mAnimationFunc != nullptr;
}

void IControl::SetDirty(bool triggerAction) {
    mDirty = true;
    if (!triggerAction)
        return;
    SendValueToDelegate();
    if (mActionFunc)
        mActionFunc(this);
}

void IControl::OnMouseDown(float, float, const IMouseMod&) {}
void IControl::OnMouseUp(float, float, const IMouseMod&) {}
void IControl::OnMouseDrag(float, float, float, float, const IMouseMod&) {}
void IControl::OnMouseDblClick(float, float, const IMouseMod&) {}
void IControl::OnMouseWheel(float, float, const IMouseMod&, float) {}
void IControl::OnMouseOver(float, float, const IMouseMod&) {
    mMouseIsOver = true;
}
void IControl::OnMouseOut() {
    mMouseIsOver = false;
}
bool IControl::OnKeyDown(float, float, const IKeyPress&) {
    return false;
}
bool IControl::OnKeyUp(float, float, const IKeyPress&) {
    return false;
}
void IControl::OnDrop(const char*) {}
void IControl::OnPopupMenuSelection(IPopupMenu*, int) {}
void IControl::OnResize() {}
void IControl::OnAttached() {}

void IControl::OnEndAnimation() {
    mAnimationFunc = nullptr;
    mAnimationDurationMs = 0;
    SetDirty(false);
}

void IControl::SetValue(double value) {
    mValue = std::clamp(value, 0.0, 1.0);
    mDirty = true;
}

void IControl::SetValueFromDelegate(double normalizedValue) {
    SetValue(normalizedValue);
}

void IControl::SetValueFromUserInput(double normalizedValue) {
    BeginParamGesture();
    SetValue(normalizedValue);
    SetDirty(true);
    EndParamGesture();
}

const IParam* IControl::GetParam() const {
    IEditorDelegate* delegate = GetDelegate();
    return delegate && mParamIdx != kNoParameter ? delegate->GetParam(mParamIdx) : nullptr;
}

void IControl::SetRECT(const IRECT& r) {
    if (mUI && !(r == mRECT))
        mUI->AddDirtyArea(mRECT.GetPadded(IGraphics::kDirtyMargin)); // where it was
    mRECT = r;
    mDirty = true;
    OnResize();
}

void IControl::SetTargetAndDrawRECTs(const IRECT& r) {
    mTargetRECT = r;
    SetRECT(r);
}

void IControl::Hide(bool hide) {
    if (mHide != hide) {
        mHide = hide;
        mDirty = true;
    }
}

void IControl::SetDisabled(bool disable) {
    if (mDisabled != disable) {
        mDisabled = disable;
        mDirty = true;
    }
}

void IControl::SetAnimation(IAnimationFunction func, int durationMs) {
    mAnimationFunc = std::move(func);
    mAnimationDurationMs = std::max(0, durationMs);
    mAnimationStart = mUI ? mUI->Now() : Clock::now();
    mDirty = true;
}

double IControl::GetAnimationProgress() const {
    if (!mAnimationFunc || mAnimationDurationMs <= 0)
        return 0.0;
    const TimePoint now = mUI ? mUI->Now() : Clock::now();
    const double ms = std::chrono::duration<double, std::milli>(now - mAnimationStart).count();
    return std::clamp(ms / static_cast<double>(mAnimationDurationMs), 0.0, 1.0);
}

void IControl::Animate() {
    if (!mAnimationFunc)
        return;
    const IAnimationFunction func = mAnimationFunc; // the function may replace or clear itself
    func(this);
    if (mAnimationFunc && mAnimationDurationMs > 0 && GetAnimationProgress() >= 1.0) {
        OnEndAnimation();
        if (mAnimationEndActionFunc)
            mAnimationEndActionFunc(this);
    }
}

void IControl::SendValueToDelegate() {
    if (GetParam())
        GetDelegate()->SendParameterValueFromUI(mParamIdx, mValue);
}

void IControl::BeginParamGesture() {
    if (GetParam())
        GetDelegate()->BeginInformHostOfParamChangeFromUI(mParamIdx);
}

void IControl::EndParamGesture() {
    if (GetParam())
        GetDelegate()->EndInformHostOfParamChangeFromUI(mParamIdx);
}

void IControl::SetAttachment(IGraphics* ui, int tag, std::string group) {
    mUI = ui;
    mTag = tag;
    mGroup = std::move(group);
}

void DefaultAnimationFunc(IControl*) {}

void DefaultClickActionFunc(IControl* caller) {
    caller->SetAnimation(DefaultAnimationFunc, DEFAULT_ANIMATION_DURATION);
}

} // namespace iplug::igraphics
