#pragma once

// The ivory kit's controls: thin subclasses of the framework's control bases that draw through the kit's
// painters and share one behaviour, the hover fade and press pulse of InteractionMotion, advanced in
// IsDirty. The parameter and action wiring stays the framework's. Main thread.

#include "framework/graphics/basic_controls.h"
#include "framework/graphics/caption_control.h"
#include "framework/graphics/slider_control.h"
#include "ui/ivory/icons.h"
#include "ui/ivory/interaction_motion.h"

#include <functional>
#include <string>

namespace ivory {

using iplug::IMouseMod;
using iplug::igraphics::IActionFunction;
using iplug::igraphics::IBitmap;
using iplug::igraphics::IControl;
using iplug::igraphics::IGraphics;
using iplug::igraphics::IRECT;

// The hover and press motion over a control base: the pointer entering and leaving fades the hover in
// and out, a press starts the pulse before the base handles it, and IsDirty advances both, answering
// true while either ran. Buttons take a quick second click as another click (SetClickable).
template <class Base>
class Animated : public Base {
public:
    using Base::Base;

    void OnMouseOver(float x, float y, const IMouseMod& mod) override {
        Base::OnMouseOver(x, y, mod);
        mMotion.SetHovered(true, Now());
    }
    void OnMouseOut() override {
        Base::OnMouseOut();
        mMotion.SetHovered(false, Now());
    }
    void OnMouseDown(float x, float y, const IMouseMod& mod) override {
        mMotion.Press(Now());
        Base::OnMouseDown(x, y, mod);
    }
    bool IsDirty() override {
        const bool ran = mMotion.Advance(Now());
        return Base::IsDirty() || ran;
    }
    const InteractionMotion& Motion() const { return mMotion; }

protected:
    // A press soon after the last one is a click of its own, not a double-click: each click of a button
    // acts, and a second click during a press pulse restarts it.
    void SetClickable() { this->SetDblAsSingleClick(true); }
    iplug::igraphics::TimePoint Now() const {
        return this->GetUI() ? this->GetUI()->Now() : iplug::igraphics::Clock::now();
    }
    // The face moves down 0.85 x the press amount (at most 1) while a press pulse runs.
    IRECT Pressed(const IRECT& r) const { return r.GetVShifted(0.85f * std::min(mMotion.press, 1.f)); }

    InteractionMotion mMotion;
};

// The word mark in the header: the product icon and the name. Ignores the mouse.
class IvoryWordmark : public IControl {
public:
    IvoryWordmark(const IRECT& bounds, IBitmap brandIcon);
    void Draw(IGraphics& g) override;

private:
    IBitmap mBrandIcon;
};

// A two-state toggle showing the off label in state 0 and the on label (accent) in state 1.
class IvoryToggle : public Animated<iplug::igraphics::ISwitchControlBase> {
public:
    IvoryToggle(const IRECT& bounds, std::string offLabel, std::string onLabel, std::string fontName,
                IActionFunction action);
    void Draw(IGraphics& g) override;
    // The label it shows in its current state.
    const std::string& ShownLabel() const { return GetSelectedIdx() == 1 ? mOnLabel : mOffLabel; }

private:
    std::string mOffLabel;
    std::string mOnLabel;
    std::string mFontName;
};

// A labelled push button; the label is accent-coloured with accent set.
class IvoryButton : public Animated<iplug::igraphics::IButtonControlBase> {
public:
    IvoryButton(const IRECT& bounds, std::string label, IActionFunction action, bool accent = false);
    void Draw(IGraphics& g) override;

private:
    std::string mLabel;
    bool mAccent;
};

// The LCD readout: its text drawn lit by DrawScreen.
class IvoryScreen : public iplug::igraphics::ITextControl {
public:
    IvoryScreen(const IRECT& bounds, const char* str);
    void Draw(IGraphics& g) override;
    bool IsLit() const { return mLit; }

private:
    bool mLit = true;
};

// The horizontal volume slider on a parameter; press counts fully while it is dragged.
class IvoryVol : public Animated<iplug::igraphics::ISliderControlBase> {
public:
    IvoryVol(const IRECT& bounds, int paramIdx, double gearing = iplug::igraphics::DEFAULT_GEARING);
    void OnMouseDown(float x, float y, const IMouseMod& mod) override;
    void OnMouseUp(float x, float y, const IMouseMod& mod) override;
    void Draw(IGraphics& g) override;

private:
    bool mDragging = false;
};

// An icon on a round face (a disc), or on a rounded square with squareFace set; the icon brightens with
// hover.
class IvoryIconButton : public Animated<iplug::igraphics::IButtonControlBase> {
public:
    IvoryIconButton(const IRECT& bounds, EPhosphorIcon icon, IActionFunction action, bool squareFace,
                    float iconSize);
    void Draw(IGraphics& g) override;
    EPhosphorIcon Icon() const { return mIcon; }

private:
    EPhosphorIcon mIcon;
    bool mSquareFace;
    float mIconSize;
};

// An icon on a rectangular button face, for actions in the tool bar.
class IvoryActionIconButton : public Animated<iplug::igraphics::IButtonControlBase> {
public:
    IvoryActionIconButton(const IRECT& bounds, EPhosphorIcon icon, IActionFunction action);
    void Draw(IGraphics& g) override;

private:
    EPhosphorIcon mIcon;
};

// A parameter's dropdown: a pill with the label and the parameter's display text; a press opens the
// parameter's menu, and after a choice has set the parameter the after-selection callback runs.
class IvoryDropdown : public Animated<iplug::igraphics::ICaptionControl> {
public:
    IvoryDropdown(const IRECT& bounds, int paramIdx, std::string label, bool boxedValue);
    void SetAfterSelection(std::function<void()> callback) { mAfterSelection = std::move(callback); }
    // 12 + label width (semibold 16) + 9 + value width (semibold 18; boxed: max(bold 18 width + 16, 26))
    // + 12; 100 without a parameter or a graphics context.
    float PreferredWidth() const;
    void OnPopupMenuSelection(iplug::igraphics::IPopupMenu* menu, int valIdx) override;
    // A value the plug-in sets (a cancelled change set back, a restore) runs the callback too when it
    // changes the value, as a choice would.
    void SetValueFromDelegate(double normalizedValue) override;
    void Draw(IGraphics& g) override;
    const std::string& Label() const { return mLabel; }

private:
    std::string mLabel;
    bool mBoxed;
    std::function<void()> mAfterSelection;
};

} // namespace ivory
