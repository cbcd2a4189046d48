#include "ui/notice_control.h"

#include "ui/ivory/painter_util.h"
#include "ui/ivory/palette.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

namespace cv::ui {

using namespace iplug::igraphics;

namespace {

constexpr float kTextSize = 14.f;

// Each channel of a moved towards b by t (0..1), rounded.
IColor Blend(const IColor& a, const IColor& b, float t) {
    auto mix = [t](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * t)); };
    return IColor(mix(a.A, b.A), mix(a.R, b.R), mix(a.G, b.G), mix(a.B, b.B));
}

constexpr const char* kEllipsis = "\xE2\x80\xA6"; // "…"

// text as it fits in width by measure: whole when it fits; else cut after the last whole word that
// leaves room for "…", without the space or the comma, colon or full stop that followed it; between two
// characters when even the first word is wider; "…" alone, or nothing, when no more fits.
std::string FitToWidth(const std::string& text, float width,
                       const std::function<float(const std::string&)>& measure) {
    if (text.empty() || measure(text) <= width)
        return text;
    const auto cutAt = [&](std::size_t end) {
        std::string kept = text.substr(0, end);
        while (!kept.empty() && std::strchr(" ,;:.", kept.back()) != nullptr)
            kept.pop_back();
        return kept.empty() ? kept : kept + kEllipsis;
    };
    // Ends of words before the last one, from the last: the whole text with "…" would not be cut.
    std::size_t firstWordEnd = text.size() - 1;
    for (std::size_t end = text.size() - 1; end > 0; --end) {
        if (text[end] != ' ' || text[end - 1] == ' ')
            continue;
        if (const std::string cut = cutAt(end); !cut.empty()) {
            firstWordEnd = end;
            if (measure(cut) <= width)
                return cut;
        }
    }
    for (std::size_t end = firstWordEnd; end > 0; --end) {
        const bool inside = (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80; // a UTF-8 continuation
        if (!inside) {
            if (const std::string cut = cutAt(end); !cut.empty() && measure(cut) <= width)
                return cut;
        }
    }
    return measure(kEllipsis) <= width ? kEllipsis : "";
}

// The slot the kind's badge takes before the message.
float BadgeWidth(const char* badge) {
    return 14.f + 0.54f * kTextSize * static_cast<float>(std::strlen(badge));
}

} // namespace

NoticeControl::NoticeControl(const IRECT& bounds, std::function<void()> cancelBackgroundWork)
    : IControl(bounds), mCancel(std::move(cancelBackgroundWork)) {
    Hide(true);
}

TimePoint NoticeControl::Now() const {
    return GetUI() ? GetUI()->Now() : Clock::now();
}

void NoticeControl::Sync() {
    ShowOrHide();
    SetDirty(false);
}

void NoticeControl::ShowOrHide() {
    Hide(!mLine.Visible());
    if (mLine.Visible())
        return;
    // A hidden line has no tooltip; the next notice is fitted afresh when drawn.
    SetTooltip({});
    mFittedText.clear();
    mFittedWidth = -1.f;
}

void NoticeControl::Show(const char* text, NoticeKind kind, int durationMs) {
    mLine.Show(text, kind, durationMs, Now());
    Sync();
}

void NoticeControl::ShowProgress(const char* text, float fraction, bool cancellable) {
    mLine.ShowProgress(text, fraction, cancellable, Now());
    Sync();
}

void NoticeControl::Dismiss() {
    mLine.Dismiss(Now());
    Sync();
}

IRECT NoticeControl::ActionArea() const {
    if (!mLine.Visible())
        return {};
    const IRECT& r = GetRECT();
    const float right = r.R - kRightInset;
    if (mLine.Current().kind != NoticeKind::Progress)
        return IRECT(right - kCloseWidth, r.T, right, r.B);
    if (mLine.Cancellable())
        return IRECT(right - kCancelWidth, r.T, right, r.B);
    return {};
}

const char* NoticeControl::ActionLabel() const {
    if (ActionArea().Empty())
        return nullptr;
    return mLine.Current().kind == NoticeKind::Progress ? "Cancel" : "\xC3\x97";
}

IRECT NoticeControl::MessageArea() const {
    if (!mLine.Visible())
        return {};
    const IRECT& r = GetRECT();
    const float left = r.L + 14.f + BadgeWidth(NoticeBadge(mLine.Current().kind));
    const IRECT area = ActionArea();
    const float right = area.Empty() ? r.R - kRightInset : area.L - 8.f;
    return IRECT(left, r.T, std::max(left, right), r.B);
}

void NoticeControl::OnMouseDown(float x, float y, const iplug::IMouseMod&) {
    const IRECT area = ActionArea();
    if (area.Empty() || !area.Contains(x, y))
        return;
    mMotion.Press(Now());
    if (mLine.Current().kind == NoticeKind::Progress) {
        if (mCancel)
            mCancel();
    } else {
        Dismiss();
    }
    SetDirty(false);
}

void NoticeControl::OnMouseOver(float x, float y, const iplug::IMouseMod& mod) {
    IControl::OnMouseOver(x, y, mod);
    const IRECT area = ActionArea();
    const bool over = !area.Empty() && area.Contains(x, y);
    if (over != mHover) {
        mHover = over;
        mMotion.SetHovered(over, Now());
        SetDirty(false);
    }
    if (GetUI())
        GetUI()->SetMouseCursor(over ? ECursor::HAND : ECursor::ARROW);
}

void NoticeControl::OnMouseOut() {
    IControl::OnMouseOut();
    mHover = false;
    mMotion.SetHovered(false, Now());
    if (GetUI())
        GetUI()->SetMouseCursor(ECursor::ARROW);
    SetDirty(false);
}

bool NoticeControl::IsDirty() {
    const TimePoint now = Now();
    const bool wasVisible = mLine.Visible();
    const bool animating = mLine.Advance(now);
    if (wasVisible != mLine.Visible())
        ShowOrHide();
    const bool moving = mMotion.Advance(now);
    // A timed notice runs for seconds, but the line looks the same between its fades.
    const bool fading = animating && mLine.Opacity(now) != mDrawnOpacity;
    return IControl::IsDirty() || fading || moving;
}

void NoticeControl::Draw(IGraphics& g) {
    if (!mLine.Visible())
        return;
    const TimePoint now = Now();
    const float a = mLine.Opacity(now);
    mDrawnOpacity = a;
    const IRECT box = GetRECT().GetVShifted(mLine.Drop(now));
    const Notice& notice = mLine.Current();

    g.PathTransformSave();
    g.SetGlobalAlpha(a);
    const IBlend shadow{EBlend::Default, 0.45f};
    g.DrawFastDropShadow(box, box.GetPadded(14.f), 2.f, 9.f, 9.f, &shadow);
    g.FillRoundRect(ivory::kRecess, box, 9.f);
    g.DrawRoundRect(IColor(170, 0, 0, 0), box, 9.f);
    g.FillRoundRect(ivory::kAccent, IRECT(box.L, box.T + 6.f, box.L + 3.f, box.B - 6.f), 2.f);

    const char* badge = NoticeBadge(notice.kind);
    const float textL = box.L + 14.f;
    g.DrawText(ivory::Font(ivory::kFontSemiBold, kTextSize, ivory::kAccentHi, EAlign::Near), badge,
               IRECT(textL, box.T, textL + BadgeWidth(badge), box.B));

    const IRECT area = ActionArea().GetVShifted(box.T - GetRECT().T);
    // A message wider than its place ends with "…" before the close mark; the tooltip shows it whole.
    const IRECT messageRect = MessageArea().GetVShifted(box.T - GetRECT().T);
    const IText font = ivory::Font(ivory::kFontRegular, kTextSize, ivory::kInk, EAlign::Near);
    if (notice.text != mFittedText || messageRect.W() != mFittedWidth) {
        mFittedText = notice.text;
        mFittedWidth = messageRect.W();
        mDrawnMessage = FitToWidth(notice.text, messageRect.W(), [&](const std::string& text) {
            return g.MeasureTextWidth(font, text.c_str());
        });
        SetTooltip(mDrawnMessage == notice.text ? std::string() : notice.text);
    }
    g.PathTransformSave();
    g.PathClipRegion(messageRect);
    g.DrawText(font, mDrawnMessage.c_str(), messageRect);
    g.PathTransformRestore();

    if (!area.Empty()) {
        const bool progress = notice.kind == NoticeKind::Progress;
        const IColor base = progress ? ivory::kAccentHi : ivory::kDim;
        const IColor colour = Blend(base, ivory::kInk, 0.65f * std::clamp(mMotion.hover, 0.f, 1.f));
        const IRECT mark = area.GetVShifted(0.85f * std::min(mMotion.press, 1.f));
        g.DrawText(ivory::Font(ivory::kFontMedium, progress ? kTextSize : 16.f, colour), ActionLabel(), mark);
    }

    if (mLine.Fraction() >= 0.f) {
        const IRECT track(box.L + 3.f, box.B - 5.f, box.R - 3.f, box.B - 3.f);
        g.FillRoundRect(ivory::kBtnEdge, track, 1.f);
        g.FillRoundRect(ivory::kAccent,
                        IRECT(track.L, track.T, track.L + mLine.Fraction() * track.W(), track.B), 1.f);
    }
    g.PathTransformRestore();
}

} // namespace cv::ui
