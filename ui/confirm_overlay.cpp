#include "ui/confirm_overlay.h"

#include "ui/ivory/painter_util.h"
#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"

#include <algorithm>
#include <utility>

namespace cv::ui {

using namespace iplug::igraphics;

int ClampCancelIndex(int buttonCount, int cancelIndex) {
    // A negative index would hand the caller an answer that is none of its buttons.
    return std::clamp(cancelIndex, 0, std::max(buttonCount, 1) - 1);
}

ConfirmOverlay::ConfirmOverlay(const IRECT& bounds) : ModalOverlay(bounds) {
    mPanel = bounds.GetCentredInside(kPanelWidth, kPanelHeight);
}

void ConfirmOverlay::OpenModal(const std::string& title, const std::string& message,
                               const std::vector<std::string>& buttons, int cancelIndex,
                               std::function<void(int)> onResult) {
    mTitle = title;
    mMessage = message;
    mButtons = buttons;
    mCancelIndex = ClampCancelIndex(static_cast<int>(mButtons.size()), cancelIndex);
    mOnResult = std::move(onResult);
    mFocus = mCancelIndex;
    mFocusVisible = true;
    mHovered = -1;
    mPressed = -1;
    mMotion.SetHovered(false, Now());
    mFade.ShowAtOnce();
    Hide(false);
    SetDirty(false);
}

void ConfirmOverlay::Resolve(int index) {
    if (IsHidden())
        return;
    mFade.Hide();
    Hide(true);
    std::function<void(int)> onResult = std::exchange(mOnResult, nullptr);
    SetDirty(false);
    if (onResult)
        onResult(index);
}

IRECT ConfirmOverlay::ButtonRect(int index) const {
    if (index < 0 || index >= static_cast<int>(mButtons.size()))
        return {};
    return ModalButtonRow(mPanel.R - 28.f, mPanel.B - 24.f, kButtonHeight,
                          mButtons)[static_cast<std::size_t>(index)];
}

int ConfirmOverlay::HitTarget(float x, float y) const {
    const int n = static_cast<int>(mButtons.size());
    for (int i = 0; i < n; ++i)
        if (ButtonRect(i).Contains(x, y))
            return i;
    if (ModalCloseButton(mPanel).Contains(x, y))
        return n;
    return -1;
}

void ConfirmOverlay::OnMouseDown(float x, float y, const iplug::IMouseMod&) {
    mFocusVisible = false;
    const int target = HitTarget(x, y);
    PressTarget(target);
    const int n = static_cast<int>(mButtons.size());
    if (!mPanel.Contains(x, y) || target == n)
        Resolve(mCancelIndex);
    else if (target >= 0)
        Resolve(target);
    SetDirty(false);
}

bool ConfirmOverlay::HandleKey(const iplug::IKeyPress& key) {
    if (key.VK == iplug::kVK_ESCAPE) {
        Resolve(mCancelIndex);
        return true;
    }
    const int n = static_cast<int>(mButtons.size());
    if (n == 0)
        return true;
    switch (key.VK) {
    case iplug::kVK_TAB:
    case iplug::kVK_LEFT:
    case iplug::kVK_RIGHT:
        StepFocus(n, key.S || key.VK == iplug::kVK_LEFT);
        break;
    case iplug::kVK_RETURN:
        Resolve(std::clamp(mFocus, 0, n - 1));
        break;
    default: // Space included: it plays the host, it never answers a question
        break;
    }
    return true;
}

void ConfirmOverlay::DrawBody(IGraphics& g, const IRECT& panel) {
    const float dy = panel.T - mPanel.T;
    const IRECT firstButton = ButtonRect(0).GetVShifted(dy);
    const float messageB = firstButton.Empty() ? panel.B - 24.f : firstButton.T - 12.f;
    g.DrawText(ivory::Font(ivory::kFontRegular, 16.f, ivory::kInk), mMessage.c_str(),
               IRECT(panel.L + 14.f, panel.T + kModalHeaderHeight + 12.f, panel.R - 14.f, messageB));
    for (int i = 0; i < static_cast<int>(mButtons.size()); ++i) {
        const IRECT r = ButtonRect(i).GetVShifted(dy);
        const IRECT face = r.GetVShifted(0.85f * std::min(PressOf(i), 1.f));
        ivory::DrawButtonFace(g, face, 9.f);
        g.DrawText(ivory::Font(ivory::kFontSemiBold, 18.f, i == 0 ? ivory::kAccentHi : ivory::kInk),
                   mButtons[static_cast<std::size_t>(i)].c_str(), face);
        ivory::HoverPress(g, *this, face, 9.f, HoverOf(i), PressOf(i), false);
        if (mFocusVisible && i == mFocus)
            DrawFocusRing(g, r, 11.f, 1.4f);
    }
}

} // namespace cv::ui
