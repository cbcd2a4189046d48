#include "ui/header_controls.h"

#include "ui/editor_seams.h"
#include "ui/editor_tags.h"
#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"
#include "ui/theme/theme.h"

#include <algorithm>

using namespace iplug::igraphics;

namespace {

IText Style(const char* font, float size, const IColor& color, EAlign align,
            EVAlign valign = EVAlign::Middle) {
    return IText(size, color, font, align, valign);
}

// The length of s less its last UTF-8 character (continuation bytes and their lead byte).
std::size_t WithoutLastCharacter(std::string_view s) {
    std::size_t n = s.size();
    while (n > 0 && (static_cast<unsigned char>(s[n - 1]) & 0xC0) == 0x80)
        --n;
    return n > 0 ? n - 1 : 0;
}

} // namespace

BodyPanel::BodyPanel(const IRECT& bounds) : IControl(bounds) {
    SetIgnoreMouse(true);
}

void BodyPanel::Draw(IGraphics& g) {
    const IRECT& r = GetRECT();
    const float h = r.H();
    g.FillRect(ivory::kBody2, r);
    g.PathClear();
    g.PathRect(r);
    g.PathFill(
        IPattern::CreateRadialGradient(r.MW(), r.T - 0.1f * h, 1.18f * h,
                                       {{ivory::kShelf, 0.f}, {ivory::kBody1, 0.42f}, {ivory::kBody2, 1.f}}));
    const IRECT bottom = r.GetFromBottom(60.f);
    g.PathClear();
    g.PathRect(bottom);
    g.PathFill(IPattern::CreateLinearGradient(r.L, r.B - 60.f, r.L, r.B,
                                              {{IColor(0, 0, 0, 0), 0.f}, {IColor(70, 0, 0, 0), 1.f}}));
}

FileReadout::FileReadout(const IRECT& bounds, const char* str) : ITextControl(bounds, str) {
    SetIgnoreMouse(true);
}

void FileReadout::SetUnsaved(bool unsaved) {
    if (unsaved == mUnsaved)
        return;
    mUnsaved = unsaved;
    if (unsaved && mJustSaved) {
        mJustSaved = false;
        SetAnimation(nullptr, 0);
    }
    SetDirty(false);
}

void FileReadout::SetSaving(bool saving) {
    if (saving != mSaving) {
        mSaving = saving;
        SetDirty(false);
    }
}

void FileReadout::ShowSaved() {
    mSaving = false;
    mUnsaved = false;
    mJustSaved = true;
    SetAnimation(DefaultAnimationFunc, kSavedMs);
    SetAnimationEndActionFunction([](IControl* c) {
        auto* readout = static_cast<FileReadout*>(c);
        readout->mJustSaved = false;
        readout->SetDirty(false);
    });
}

const char* FileReadout::StatusWord() const {
    if (mSaving)
        return "Saving\xE2\x80\xA6";
    if (mUnsaved)
        return "Unsaved";
    return mJustSaved ? "Saved" : nullptr;
}

IRECT FileReadout::TextArea() const {
    return StatusWord() ? GetRECT().GetReducedFromRight(76.f) : GetRECT();
}

void FileReadout::Draw(IGraphics& g) {
    const IRECT& r = GetRECT();
    const IRECT area = TextArea();
    if (const char* status = StatusWord())
        g.DrawText(Style(ivory::kFontSemiBold, 12.f, ivory::kAccentHi, EAlign::Far), status,
                   r.GetFromRight(68.f));
    const std::size_t sep = mStr.find(kSeparator);
    if (sep == std::string::npos) {
        g.DrawText(Style(ivory::kFontRegular, 18.f, theme::kTextDim, EAlign::Near), mStr.c_str(), area);
        return;
    }
    const IText nameStyle = Style(ivory::kFontMedium, 18.f, theme::kText, EAlign::Near, EVAlign::Bottom);
    const std::string name =
        cv::ui::ShortenFileName(std::string_view(mStr).substr(0, sep), area.W(), [&](const std::string& s) {
            return g.MeasureTextWidth(nameStyle, s.c_str());
        });
    const std::string detail = mStr.substr(sep + std::char_traits<char>::length(kSeparator));
    g.DrawText(nameStyle, name.c_str(), IRECT(area.L, r.T, area.R, r.T + 0.55f * r.H()));
    g.DrawText(Style(ivory::kFontRegular, 14.f, theme::kTextDim, EAlign::Near, EVAlign::Top), detail.c_str(),
               IRECT(area.L, r.T + 0.45f * r.H(), area.R, r.B));
}

namespace cv::ui {

std::string ShortenFileName(std::string_view name, float maxWidth,
                            const std::function<float(const std::string&)>& measure) {
    static constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
    std::string whole(name);
    if (measure(whole) <= maxWidth)
        return whole;
    std::string_view stem = name;
    std::string_view extension;
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && name.size() - dot <= 12) {
        stem = name.substr(0, dot);
        extension = name.substr(dot);
    }
    std::string candidate;
    do {
        stem = stem.substr(0, WithoutLastCharacter(stem));
        candidate.assign(stem);
        candidate.append(kEllipsis);
        candidate.append(extension);
    } while (!stem.empty() && measure(candidate) > maxWidth);
    return candidate;
}

} // namespace cv::ui

TabSwitch::TabSwitch(const IRECT& bounds, IActionFunction action, std::vector<std::string> labels,
                     std::vector<std::string> hints)
    : IVTabSwitchControl(bounds, std::move(action), std::move(labels), "",
                         IVStyle{true, 0.35f, 1.f, theme::kButton, theme::kAccent, theme::kButtonFrame,
                                 theme::kHover, IText(17.f, ivory::kInk, ivory::kFontSemiBold)},
                         EVShape::EndsRounded, EDirection::Horizontal),
      mHints(std::move(hints)) {
    SetDblAsSingleClick(true);
}

TimePoint TabSwitch::Now() const {
    return GetUI() ? GetUI()->Now() : Clock::now();
}

void TabSwitch::DrawWidget(IGraphics& g) {
    mTabRects = ivory::ContentTabRects(g, GetRECT(), mTabLabels);
    ivory::TabsState state;
    state.selected = GetSelectedIdx();
    state.hovered = mHovered;
    state.hoverAmount = mMotion.hover;
    state.pressed = mPressed;
    state.pressAmount = mMotion.press;
    ivory::DrawTabs(g, GetRECT(), mTabLabels, state, &mTabRects);
}

int TabSwitch::GetButtonForPoint(float x, float y) const {
    for (std::size_t i = 0; i < mTabRects.size(); ++i) {
        if (mTabRects[i].Contains(x, y))
            return static_cast<int>(i);
    }
    return IVTabSwitchControl::GetButtonForPoint(x, y);
}

void TabSwitch::OnMouseOver(float x, float y, const iplug::IMouseMod& mod) {
    const int tab = GetButtonForPoint(x, y);
    if (tab != mHovered) {
        mHovered = tab;
        mMotion.SetHovered(tab >= 0, Now());
        SetDirty(false);
    }
    if (tab >= 0 && static_cast<std::size_t>(tab) < mHints.size())
        SetTooltip(mHints[static_cast<std::size_t>(tab)]);
    IVTabSwitchControl::OnMouseOver(x, y, mod);
}

void TabSwitch::OnMouseDown(float x, float y, const iplug::IMouseMod& mod) {
    mPressed = GetButtonForPoint(x, y);
    mMotion.Press(Now());
    IVTabSwitchControl::OnMouseDown(x, y, mod);
}

void TabSwitch::OnMouseOut() {
    mHovered = -1;
    mMotion.SetHovered(false, Now());
    IVTabSwitchControl::OnMouseOut();
    SetDirty(false);
}

bool TabSwitch::IsDirty() {
    const bool ran = mMotion.Advance(Now());
    return IVTabSwitchControl::IsDirty() || ran;
}

SplitButton::SplitButton(const IRECT& bounds, std::function<bool()> canSplit)
    : Animated(bounds), mCanSplit(std::move(canSplit)) {
    SetClickable();
}

void SplitButton::OnMouseDown(float x, float y, const iplug::IMouseMod& mod) {
    Animated::OnMouseDown(x, y, mod);
    auto* canvas = cv::ui::FindSeam<cv::ui::CanvasSeam>(GetUI(), cv::ui::kTagCanvas);
    if (canvas && mCanSplit && mCanSplit())
        canvas->SetSplitMode(!canvas->SplitMode());
    SetDirty(false);
}

void SplitButton::Draw(IGraphics& g) {
    const auto* canvas = cv::ui::FindSeam<cv::ui::CanvasSeam>(GetUI(), cv::ui::kTagCanvas);
    const bool armed = canvas && canvas->SplitMode();
    const IRECT face = Pressed(GetRECT());
    const float radius = armed ? 11.f : 9.f;
    ivory::DrawButtonFace(g, face, 9.f);
    ivory::DrawIcon(g, ivory::EPhosphorIcon::Split, face,
                    std::max(1.f, std::min({face.W() - 10.f, 18.f, face.H() - 8.f})),
                    armed ? ivory::kAccentHi : ivory::kInk);
    if (IsDisabled())
        g.FillRoundRect(ivory::kDisabledVeil, face, radius);
    else
        ivory::HoverPress(g, *this, face, radius, mMotion.hover, mMotion.press, armed);
}
