#include "ui/ivory/controls.h"

#include "framework/param.h"
#include "ui/ivory/painter_util.h"
#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"

#include <algorithm>
#include <cmath>

namespace ivory {

using namespace iplug::igraphics;

namespace {

// A label centred on a face: a shadow 0.7 units lower, then the label in its colour.
void DrawFaceLabel(IGraphics& g, const IRECT& face, const std::string& label, const char* font,
                   const IColor& color) {
    const IText style = Font(font, 18.f, color);
    g.DrawText(style.WithFGColor(kTextShadow), label.c_str(), face.GetVShifted(0.7f));
    g.DrawText(style, label.c_str(), face);
}

void DrawVeil(IGraphics& g, const IRECT& face, float radius) {
    g.FillRoundRect(kDisabledVeil, face, radius);
}

} // namespace

IvoryWordmark::IvoryWordmark(const IRECT& bounds, IBitmap brandIcon)
    : IControl(bounds), mBrandIcon(std::move(brandIcon)) {
    SetIgnoreMouse(true);
}

void IvoryWordmark::Draw(IGraphics& g) {
    DrawWordmark(g, GetRECT(), mBrandIcon);
}

IvoryToggle::IvoryToggle(const IRECT& bounds, std::string offLabel, std::string onLabel, std::string fontName,
                         IActionFunction action)
    : Animated(bounds, iplug::igraphics::kNoParameter, std::move(action), 2), mOffLabel(std::move(offLabel)),
      mOnLabel(std::move(onLabel)), mFontName(std::move(fontName)) {
    SetClickable();
}

void IvoryToggle::Draw(IGraphics& g) {
    const bool on = GetSelectedIdx() == 1;
    const IRECT face = Pressed(GetRECT());
    DrawButtonFace(g, face, 9.f);
    if (on)
        g.DrawRoundRect(kAccent.WithAlpha(112), face.GetPadded(-0.5f), 8.5f);
    DrawFaceLabel(g, face, ShownLabel(), mFontName.c_str(), on ? kAccentHi : kInk);
    if (IsDisabled())
        DrawVeil(g, face, 9.f);
    else
        HoverPress(g, *this, face, 9.f, mMotion.hover, mMotion.press, on);
}

IvoryButton::IvoryButton(const IRECT& bounds, std::string label, IActionFunction action, bool accent)
    : Animated(bounds, std::move(action)), mLabel(std::move(label)), mAccent(accent) {
    SetClickable();
}

void IvoryButton::Draw(IGraphics& g) {
    const IRECT face = Pressed(GetRECT());
    DrawButtonFace(g, face, 9.f);
    DrawFaceLabel(g, face, mLabel, kFontSemiBold, mAccent ? kAccentHi : kInk);
    if (IsDisabled())
        DrawVeil(g, face, 9.f);
    else
        HoverPress(g, *this, face, 9.f, mMotion.hover, mMotion.press, mAccent);
}

IvoryScreen::IvoryScreen(const IRECT& bounds, const char* str) : ITextControl(bounds, str) {}

void IvoryScreen::Draw(IGraphics& g) {
    DrawScreen(g, GetRECT(), mStr.c_str(), nullptr, 9.f, mLit);
}

IvoryVol::IvoryVol(const IRECT& bounds, int paramIdx, double gearing)
    : Animated(bounds, paramIdx, EDirection::Horizontal, gearing) {}

void IvoryVol::OnMouseDown(float x, float y, const IMouseMod& mod) {
    mDragging = true;
    Animated::OnMouseDown(x, y, mod);
}

void IvoryVol::OnMouseUp(float x, float y, const IMouseMod& mod) {
    mDragging = false;
    Animated::OnMouseUp(x, y, mod);
    SetDirty(false);
}

void IvoryVol::Draw(IGraphics& g) {
    DrawVol(g, GetRECT(), static_cast<float>(GetValue()), mMotion.hover, mDragging ? 1.f : mMotion.press);
}

IvoryIconButton::IvoryIconButton(const IRECT& bounds, EPhosphorIcon icon, IActionFunction action,
                                 bool squareFace, float iconSize)
    : Animated(bounds, std::move(action)), mIcon(icon), mSquareFace(squareFace), mIconSize(iconSize) {
    SetClickable();
}

void IvoryIconButton::Draw(IGraphics& g) {
    const float side = std::min(GetRECT().W(), GetRECT().H());
    const IRECT face = Pressed(GetRECT().GetCentredInside(side));
    const float radius = mSquareFace ? 9.f : 0.5f * side;
    const float h = std::clamp(mMotion.hover, 0.f, 1.f);
    const float p = std::clamp(mMotion.press, 0.f, 1.f);
    DrawButtonFace(g, face, radius);
    const float iconSide = std::max(1.f, std::min({face.H() - 8.f, face.W() - 10.f, mIconSize}));
    DrawIcon(g, mIcon, face, iconSide,
             IColor::LinearInterpolateBetween(kDim, kInk, std::clamp(0.55f * h, 0.f, 1.f)));
    if (IsDisabled()) {
        DrawVeil(g, face, radius);
        return;
    }
    if (h > 0.f) {
        g.FillRoundRect(Alpha(COLOR_WHITE, 10.f * h), face, radius);
        g.DrawRoundRect(Alpha(kHoverOutline, 26.f * h), face.GetPadded(-0.5f), std::max(radius - 0.5f, 1.f));
    }
    if (p > 0.f)
        g.FillRoundRect(Alpha(COLOR_BLACK, 48.f * p), face, radius);
}

IvoryActionIconButton::IvoryActionIconButton(const IRECT& bounds, EPhosphorIcon icon, IActionFunction action)
    : Animated(bounds, std::move(action)), mIcon(icon) {
    SetClickable();
}

void IvoryActionIconButton::Draw(IGraphics& g) {
    const IRECT face = Pressed(GetRECT());
    DrawButtonFace(g, face, 9.f);
    DrawIcon(g, mIcon, face, std::max(1.f, std::min({face.W() - 10.f, 18.f, face.H() - 8.f})), kInk);
    if (IsDisabled())
        DrawVeil(g, face, 9.f);
    else
        HoverPress(g, *this, face, 9.f, mMotion.hover, mMotion.press, false);
}

IvoryDropdown::IvoryDropdown(const IRECT& bounds, int paramIdx, std::string label, bool boxedValue)
    : Animated(bounds, paramIdx, Font(kFontMedium, 20.f, kInk), COLOR_TRANSPARENT, false),
      mLabel(std::move(label)), mBoxed(boxedValue) {
    SetClickable();
}

float IvoryDropdown::PreferredWidth() const {
    const IGraphics* g = GetUI();
    if (!g || !GetParam())
        return 100.f;
    const std::string value = DisplayText();
    const float labelW = g->MeasureTextWidth(Font(kFontSemiBold, 16.f, kFaint), mLabel.c_str());
    const float valueW =
        mBoxed ? std::max(g->MeasureTextWidth(Font(kFontBold, 18.f, kInk), value.c_str()) + 16.f, 26.f)
               : g->MeasureTextWidth(Font(kFontSemiBold, 18.f, kInk), value.c_str());
    return 12.f + labelW + 9.f + valueW + 12.f;
}

void IvoryDropdown::OnPopupMenuSelection(IPopupMenu* menu, int valIdx) {
    ICaptionControl::OnPopupMenuSelection(menu, valIdx);
    if (menu && mAfterSelection)
        mAfterSelection();
}

void IvoryDropdown::SetValueFromDelegate(double normalizedValue) {
    const double before = GetValue();
    Animated::SetValueFromDelegate(normalizedValue);
    if (GetValue() != before && mAfterSelection)
        mAfterSelection();
}

void IvoryDropdown::Draw(IGraphics& g) {
    const IRECT face = Pressed(GetRECT());
    mStr = DisplayText();
    DrawPill(g, face, mLabel.c_str(), mStr.c_str(), mBoxed);
    if (IsDisabled()) {
        DrawVeil(g, face, 9.f);
        return;
    }
    const float h = std::clamp(mMotion.hover, 0.f, 1.f);
    const float p = std::clamp(mMotion.press, 0.f, 1.f);
    if (h > 0.f) {
        g.FillRoundRect(Alpha(COLOR_WHITE, 5.f * h), face, 9.f);
        g.DrawRoundRect(Alpha(IColor(255, 215, 218, 223), 10.f * h), face.GetPadded(-0.5f), 8.5f);
    }
    if (p > 0.f)
        g.FillRoundRect(Alpha(COLOR_BLACK, 32.f * p), face, 9.f);
}

} // namespace ivory
