// IGraphics event routing: mouse capture, double-clicks, over and out, wheel and keys (rules in igraphics.h).

#include "framework/graphics/corner_resizer.h"
#include "framework/graphics/icontrol.h"
#include "framework/graphics/igraphics.h"
#include "framework/graphics/popup_menu_control.h"

#include <cmath>

namespace iplug::igraphics {
namespace {

constexpr auto kDoubleClickTime = std::chrono::milliseconds(400);
constexpr float kDoubleClickDistance = 4.f; // design units

} // namespace

IControl* IGraphics::GetMouseControl(float x, float y) const {
    if (mCornerResizer && mCornerResizer->GetTargetRECT().Contains(x, y))
        return mCornerResizer.get();
    for (auto it = mControls.rbegin(); it != mControls.rend(); ++it) {
        IControl* c = it->get();
        if (!c->IsHidden() && !c->GetIgnoreMouse() && c->GetTargetRECT().Contains(x, y))
            return c;
    }
    return nullptr;
}

void IGraphics::OnMouseDown(float x, float y, const IMouseMod& mod) {
    mLastX = x;
    mLastY = y;
    mPointerInside = true;
    mPointerRestStart = Now();
    if (mModal) {
        mCaptured = mModal.get();
        mModal->OnMouseDown(x, y, mod);
        return;
    }
    if (IsPopupMenuOpen()) {
        mPopupMenu->OnMouseDown(x, y, mod);
        mCaptured = mPopupMenu->IsOpen() ? mPopupMenu.get() : nullptr;
        mLastPressControl = nullptr;
        return;
    }
    IControl* c = GetMouseControl(x, y);
    if (!c || c->IsDisabled()) {
        mLastPressControl = nullptr;
        return;
    }
    const TimePoint now = Now();
    const bool isDouble = !mLastPressWasDouble && c == mLastPressControl &&
                          now - mLastPressTime <= kDoubleClickTime &&
                          std::abs(x - mLastPressX) <= kDoubleClickDistance &&
                          std::abs(y - mLastPressY) <= kDoubleClickDistance;
    mLastPressControl = c;
    mLastPressTime = now;
    mLastPressX = x;
    mLastPressY = y;
    mLastPressWasDouble = isDouble;
    mCaptured = c;
    if (isDouble && !c->GetDblAsSingleClick())
        c->OnMouseDblClick(x, y, mod);
    else
        c->OnMouseDown(x, y, mod);
}

void IGraphics::OnMouseUp(float x, float y, const IMouseMod& mod) {
    mLastX = x;
    mLastY = y;
    // Over and out resume with the next move.
    if (IControl* c = mCaptured) {
        mCaptured = nullptr;
        c->OnMouseUp(x, y, mod);
    }
}

void IGraphics::OnMouseMove(float x, float y, const IMouseMod& mod) {
    const float dX = x - mLastX, dY = y - mLastY;
    mLastX = x;
    mLastY = y;
    mPointerInside = true;
    if (mCaptured) {
        if (dX != 0.f || dY != 0.f)
            mCaptured->OnMouseDrag(x, y, dX, dY, mod);
        return;
    }
    if (dX != 0.f || dY != 0.f)
        mPointerRestStart = Now();
    if (mModal) {
        mModal->OnMouseOver(x, y, mod);
        return;
    }
    if (IsPopupMenuOpen()) {
        mPopupMenu->OnMouseOver(x, y, mod);
        return;
    }
    DispatchMouseOver(x, y, mod);
}

void IGraphics::DispatchMouseOver(float x, float y, const IMouseMod& mod) {
    IControl* c = GetMouseControl(x, y);
    if (c && c->IsDisabled())
        c = nullptr;
    if (c != mMouseOver) {
        if (mMouseOver)
            mMouseOver->OnMouseOut();
        mMouseOver = c;
        mPointerRestStart = Now();
    }
    if (c)
        c->OnMouseOver(x, y, mod);
}

void IGraphics::OnMouseWheel(float x, float y, const IMouseMod& mod, float delta) {
    if (IsPopupMenuOpen() || mModal)
        return;
    IControl* c = GetMouseControl(x, y);
    if (c && !c->IsDisabled())
        c->OnMouseWheel(x, y, mod, delta);
}

void IGraphics::OnMouseOut() {
    mPointerInside = false;
    if (mMouseOver && !mCaptured) {
        IControl* c = mMouseOver;
        mMouseOver = nullptr;
        c->OnMouseOut();
    }
}

bool IGraphics::OnKeyDown(float x, float y, const IKeyPress& key) {
    if (mModal) {
        mModal->OnKeyDown(x, y, key);
        return true;
    }
    if (IsPopupMenuOpen())
        return mPopupMenu->OnKeyDown(x, y, key);
    if (mKeyHandler && mKeyHandler(key, false))
        return true;
    IControl* c = GetMouseControl(x, y);
    return c && !c->IsDisabled() && c->OnKeyDown(x, y, key);
}

bool IGraphics::OnKeyUp(float, float, const IKeyPress& key) {
    if (IsPopupMenuOpen() || mModal)
        return true;
    return mKeyHandler && mKeyHandler(key, true);
}

} // namespace iplug::igraphics
