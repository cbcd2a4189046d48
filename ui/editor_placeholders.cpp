#include "ui/editor_placeholders.h"

#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"
#include "ui/theme/theme.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace cv::ui {

using namespace iplug::igraphics;

InspectorPlaceholder::InspectorPlaceholder(const IRECT& bounds) : IControl(bounds) {}

void InspectorPlaceholder::Draw(IGraphics& g) {
    ivory::DrawSoftPanel(g, GetRECT(), 16.f, 0);
}

NoticePlaceholder::NoticePlaceholder(const IRECT& bounds) : IControl(bounds) {
    Hide(true);
}

void NoticePlaceholder::Show(const char* text, NoticeKind kind, int durationMs) {
    mText = text ? text : "";
    mKind = kind;
    mFraction = -1.f;
    Hide(mText.empty());
    if (durationMs >= 1) {
        SetAnimation(DefaultAnimationFunc, durationMs);
        SetAnimationEndActionFunction([](IControl* c) { c->Hide(true); });
    } else {
        SetAnimation(nullptr, 0);
    }
    SetDirty(false);
}

void NoticePlaceholder::ShowProgress(const char* text, float fraction, bool) {
    if (ShownKind() == NoticeKind::Error)
        return;
    Show(text && *text ? text : "Working", NoticeKind::Progress, 0);
    mFraction = std::clamp(fraction, 0.f, 1.f);
}

void NoticePlaceholder::Dismiss() {
    SetAnimation(nullptr, 0);
    Hide(true);
}

std::optional<NoticeKind> NoticePlaceholder::ShownKind() const {
    return IsHidden() ? std::nullopt : std::optional<NoticeKind>(mKind);
}

void NoticePlaceholder::OnMouseDown(float, float, const iplug::IMouseMod&) {
    if (mKind != NoticeKind::Progress)
        Dismiss();
}

void NoticePlaceholder::Draw(IGraphics& g) {
    static constexpr const char* kBadges[] = {"Info", "Done", "Notice", "Error", "Working"};
    const IRECT& r = GetRECT();
    g.FillRoundRect(ivory::kRecess, r, 9.f);
    g.DrawRoundRect(IColor(170, 0, 0, 0), r, 9.f);
    g.FillRoundRect(ivory::kAccent, IRECT(r.L, r.T + 6.f, r.L + 3.f, r.B - 6.f), 2.f);
    const char* badge = kBadges[std::clamp(static_cast<int>(mKind), 0, 4)];
    const IText badgeStyle(14.f, ivory::kAccentHi, ivory::kFontSemiBold, EAlign::Near);
    const float badgeW = 14.f + 0.54f * 14.f * static_cast<float>(std::char_traits<char>::length(badge));
    g.DrawText(badgeStyle, badge, IRECT(r.L + 14.f, r.T, r.R, r.B));
    g.DrawText(IText(14.f, ivory::kInk, ivory::kFontRegular, EAlign::Near), mText.c_str(),
               IRECT(r.L + 14.f + badgeW, r.T, r.R - 14.f, r.B));
    if (mFraction >= 0.f) {
        const IRECT track(r.L + 3.f, r.B - 5.f, r.R - 3.f, r.B - 3.f);
        g.FillRect(ivory::kBtnEdge, track);
        g.FillRect(ivory::kAccent, IRECT(track.L, track.T, track.L + mFraction * track.W(), track.B));
    }
}

OverlayPlaceholder::OverlayPlaceholder(const IRECT& bounds, std::string title)
    : IControl(bounds), mTitle(std::move(title)) {
    Hide(true);
}

void OverlayPlaceholder::OpenModal() {
    Hide(false);
    SetDirty(false);
}

void OverlayPlaceholder::OpenModal(const std::string& title, const std::string& message,
                                   const std::vector<std::string>& buttons, int cancelIndex,
                                   std::function<void(int)> onResult) {
    mTitle = title;
    mMessage = message;
    mCancelIndex = std::min(std::max(static_cast<int>(buttons.size()), 1) - 1, cancelIndex);
    mOnResult = std::move(onResult);
    OpenModal();
}

void OverlayPlaceholder::OnMouseDown(float, float, const iplug::IMouseMod&) {
    Hide(true);
    if (auto result = std::exchange(mOnResult, nullptr))
        result(mCancelIndex);
}

void OverlayPlaceholder::Draw(IGraphics& g) {
    g.FillRect(IColor(176, 0, 0, 0), GetRECT());
    const IRECT panel = GetRECT().GetCentredInside(640.f, 440.f);
    ivory::DrawSoftPanel(g, panel, 16.f, 2);
    g.DrawText(IText(21.f, ivory::kInk, ivory::kFontSemiBold, EAlign::Near), mTitle.c_str(),
               IRECT(panel.L + 28.f, panel.T + 16.f, panel.R - 50.f, panel.T + 52.f));
    g.DrawText(IText(16.f, ivory::kInk, ivory::kFontRegular, EAlign::Near), mMessage.c_str(),
               IRECT(panel.L + 28.f, panel.T + 70.f, panel.R - 28.f, panel.T + 110.f));
}

} // namespace cv::ui
