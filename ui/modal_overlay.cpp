#include "ui/modal_overlay.h"

#include "ui/ivory/painter_util.h"
#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"
#include "ui/notice_line.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace cv::ui {

using namespace iplug::igraphics;

namespace {

float Progress(TimePoint start, TimePoint now, int ms) {
    const double elapsed = std::chrono::duration<double, std::milli>(now - start).count();
    return static_cast<float>(std::clamp(elapsed / ms, 0.0, 1.0));
}

constexpr IColor kDivider{24, 255, 255, 255};
constexpr IColor kGridDivider{18, 255, 255, 255};

} // namespace

// ---- ModalFade

void ModalFade::Open(TimePoint now) {
    mPhase = Phase::Opening;
    mStart = now;
    mCloseFrom = 1.f;
}

void ModalFade::ShowAtOnce() {
    mPhase = Phase::Shown;
    mCloseFrom = 1.f;
}

bool ModalFade::Close(TimePoint now) {
    if (mPhase == Phase::Hidden || mPhase == Phase::Closing)
        return false;
    mCloseFrom = Opacity(now);
    mPhase = Phase::Closing;
    mStart = now;
    return true;
}

void ModalFade::Hide() {
    mPhase = Phase::Hidden;
    mCloseFrom = 1.f;
}

bool ModalFade::Advance(TimePoint now) {
    switch (mPhase) {
    case Phase::Opening:
        if (Progress(mStart, now, kModalOpenMs) >= 1.f)
            mPhase = Phase::Shown;
        return true;
    case Phase::Closing:
        if (Progress(mStart, now, kModalCloseMs) >= 1.f)
            Hide();
        return true;
    case Phase::Hidden:
    case Phase::Shown:
        break;
    }
    return false;
}

float ModalFade::Opacity(TimePoint now) const {
    switch (mPhase) {
    case Phase::Hidden:
        return 0.f;
    case Phase::Opening: {
        const float rest = 1.f - Progress(mStart, now, kModalOpenMs);
        return 1.f - rest * rest * rest;
    }
    case Phase::Closing:
        return mCloseFrom * (1.f - Smoothstep(Progress(mStart, now, kModalCloseMs)));
    case Phase::Shown:
        break;
    }
    return 1.f;
}

// ---- ModalOverlay

ModalOverlay::ModalOverlay(const IRECT& bounds) : IControl(bounds) {
    Hide(true);
    // No target of an overlay has a double-click meaning: a quick second press (a "Try again" that
    // failed at once, a second page of help) is a press like the first, never lost.
    SetDblAsSingleClick(true);
}

TimePoint ModalOverlay::Now() const {
    return GetUI() ? GetUI()->Now() : Clock::now();
}

void ModalOverlay::BeginOpen() {
    mFocus = 0;
    mFocusVisible = false;
    mHovered = -1;
    mPressed = -1;
    mMotion.SetHovered(false, Now());
    mFade.Open(Now());
    Hide(false);
    SetDirty(false);
}

void ModalOverlay::CloseModal() {
    if (IsHidden() || !mFade.Close(Now()))
        return;
    SetDirty(false);
}

void ModalOverlay::PressTarget(int target) {
    mPressed = target;
    if (target >= 0)
        mMotion.Press(Now());
}

void ModalOverlay::StepFocus(int count, bool back) {
    if (count < 1)
        return;
    mFocus = (std::clamp(mFocus, 0, count - 1) + (back ? count - 1 : 1)) % count;
    mFocusVisible = true;
    SetDirty(false);
}

float ModalOverlay::HoverOf(int target) const {
    return target >= 0 && target == mHovered ? mMotion.hover : 0.f;
}

float ModalOverlay::PressOf(int target) const {
    return target >= 0 && target == mPressed ? mMotion.press : 0.f;
}

void ModalOverlay::OnMouseOver(float x, float y, const iplug::IMouseMod& mod) {
    IControl::OnMouseOver(x, y, mod);
    const int target = HitTarget(x, y);
    if (target != mHovered) {
        mHovered = target;
        mMotion.SetHovered(target >= 0, Now());
        SetDirty(false);
    }
    if (GetUI())
        GetUI()->SetMouseCursor(target >= 0 ? ECursor::HAND : ECursor::ARROW);
}

void ModalOverlay::OnMouseOut() {
    IControl::OnMouseOut();
    mHovered = -1;
    mMotion.SetHovered(false, Now());
    if (GetUI())
        GetUI()->SetMouseCursor(ECursor::ARROW);
    SetDirty(false);
}

bool ModalOverlay::IsDirty() {
    const TimePoint now = Now();
    const bool fading = mFade.Advance(now);
    if (!mFade.Visible() && !IsHidden()) {
        Hide(true);
        OnClosed();
    }
    const bool moving = mMotion.Advance(now);
    return IControl::IsDirty() || fading || moving;
}

void ModalOverlay::Draw(IGraphics& g) {
    const float opacity = std::clamp(Opacity(), 0.f, 1.f);
    const IRECT panel = mPanel.GetVShifted((1.f - opacity) * kNoticeRise);
    const int close = CloseTarget();
    DrawModalFrame(g, *this, panel, {Title(), Subtitle(), opacity, HoverOf(close), PressOf(close)});
    g.PathTransformSave();
    g.SetGlobalAlpha(opacity);
    DrawBody(g, panel);
    g.PathTransformRestore();
}

IRECT ModalCloseButton(const IRECT& panel) {
    return IRECT(panel.R - 28.f - 34.f, panel.T + 28.f, panel.R - 28.f, panel.T + 28.f + 34.f);
}

void DrawModalFrame(IGraphics& g, const IControl& overlay, const IRECT& panel, const ModalFrameStyle& style) {
    const float opacity = std::clamp(style.opacity, 0.f, 1.f);
    g.FillRect(ivory::Alpha(COLOR_BLACK, opacity * kModalBackdropAlpha), overlay.GetRECT());
    g.PathTransformSave();
    g.SetGlobalAlpha(opacity);
    ivory::DrawSoftPanel(g, panel, 16.f, 2);
    const IRECT close = ModalCloseButton(panel).GetVShifted(0.85f * std::min(style.closePress, 1.f));
    ivory::DrawButtonFace(g, close, 9.f);
    g.DrawText(ivory::Font(ivory::kFontMedium, 18.f, ivory::kDim), "\xC3\x97", close);
    ivory::HoverPress(g, overlay, close, 9.f, style.closeHover, style.closePress, false);
    const std::string title(style.title);
    const std::string subtitle(style.subtitle);
    // Without a subtitle the title sits level with the close button.
    const IRECT titleRect = subtitle.empty()
                                ? IRECT(panel.L + 28.f, panel.T + 28.f, panel.R - 50.f, panel.T + 62.f)
                                : IRECT(panel.L + 28.f, panel.T + 26.f, panel.R - 50.f, panel.T + 50.f);
    g.DrawText(ivory::Font(ivory::kFontSemiBold, 21.f, ivory::kInk, EAlign::Near), title.c_str(), titleRect);
    g.DrawText(ivory::Font(ivory::kFontRegular, 14.f, ivory::kDim, EAlign::Near), subtitle.c_str(),
               IRECT(panel.L + 28.f, panel.T + 52.f, panel.R - 50.f, panel.T + 70.f));
    g.FillRect(kDivider, IRECT(panel.L + 1.f, panel.T + kModalHeaderHeight, panel.R - 1.f,
                               panel.T + kModalHeaderHeight + 1.f));
    g.PathTransformRestore();
}

void DrawFocusRing(IGraphics& g, const IRECT& r, float ringRadius, float thickness) {
    g.DrawRoundRect(ivory::kAccentHi, r.GetPadded(2.f), ringRadius, nullptr, thickness);
}

float ModalButtonWidth(std::string_view label) {
    return std::max(108.f, std::min(166.f, 7.5f * static_cast<float>(label.size()) + 50.f));
}

std::vector<IRECT> ModalButtonRow(float right, float bottom, float height,
                                  std::span<const std::string> labels) {
    std::vector<IRECT> rects(labels.size());
    for (std::size_t i = labels.size(); i-- > 0;) {
        const float w = ModalButtonWidth(labels[i]);
        rects[i] = IRECT(right - w, bottom - height, right, bottom);
        right -= w + 10.f;
    }
    return rects;
}

std::vector<IRECT> ReferenceGridCells(const IRECT& rect, int count) {
    std::vector<IRECT> cells;
    if (count < 1)
        return cells;
    constexpr float kPadding = 20.f;
    constexpr float kGutter = 24.f;
    const IRECT inner = rect.GetPadded(-kPadding);
    const int firstColumn = (count + 1) / 2;
    const float rowH = std::min(64.f, inner.H() / static_cast<float>(firstColumn));
    const float colW = (inner.W() - kGutter) / 2.f;
    for (int i = 0; i < count; ++i) {
        const int column = i < firstColumn ? 0 : 1;
        const int row = column == 0 ? i : i - firstColumn;
        const float l = inner.L + static_cast<float>(column) * (colW + kGutter);
        const float t = inner.T + static_cast<float>(row) * rowH;
        cells.emplace_back(l, t, l + colW, t + rowH);
    }
    return cells;
}

void DrawReferenceGrid(IGraphics& g, const IRECT& rect, std::span<const ReferenceRow> rows,
                       ReferenceStyle style) {
    ivory::DrawWell(g, rect, 12.f);
    const std::vector<IRECT> cells = ReferenceGridCells(rect, static_cast<int>(rows.size()));
    if (cells.empty())
        return;
    const int firstColumn = (static_cast<int>(cells.size()) + 1) / 2;
    const float gutterX = 0.5f * (cells.front().R + cells.back().L);
    if (cells.size() > 1)
        g.FillRect(kGridDivider, IRECT(std::floor(gutterX), cells.front().T, std::floor(gutterX) + 1.f,
                                       cells[static_cast<std::size_t>(firstColumn) - 1].B));
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const IRECT& c = cells[i];
        const ReferenceRow& row = rows[i];
        const bool lastInColumn = static_cast<int>(i) == firstColumn - 1 || i + 1 == cells.size();
        if (!lastInColumn)
            g.FillRect(kGridDivider, IRECT(c.L, std::floor(c.B), c.R, std::floor(c.B) + 1.f));
        if (style == ReferenceStyle::Keys) {
            const float keyW = std::min(0.44f * c.W(), 146.f);
            g.DrawText(ivory::Font(ivory::kFontMono, 14.f, ivory::kInk, EAlign::Near), row.key,
                       IRECT(c.L, c.T, c.L + keyW, c.B));
            g.DrawText(ivory::Font(ivory::kFontRegular, 14.f, ivory::kDim, EAlign::Near), row.description,
                       IRECT(c.L + keyW + 10.f, c.T, c.R, c.B));
        } else {
            const IRECT name(c.L, c.MH() - 20.f, c.R, c.MH() - 2.f);
            g.DrawText(ivory::Font(ivory::kFontSemiBold, 16.f, ivory::kInk, EAlign::Near), row.key, name);
            g.DrawText(ivory::Font(ivory::kFontRegular, 14.f, ivory::kDim, EAlign::Near), row.description,
                       name.GetVShifted(22.f));
        }
    }
}

} // namespace cv::ui
