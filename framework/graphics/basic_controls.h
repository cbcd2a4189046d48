#pragma once

// The simple control bases: a panel, a text, a button (value 1 while its 100 ms click animation runs)
// and a switch of two or more states.

#include "framework/graphics/icontrol.h"

#include <string>

namespace iplug::igraphics {

// A rectangle filled with a colour or gradient; it ignores the mouse.
class IPanelControl : public IControl {
public:
    IPanelControl(const IRECT& bounds, const IPattern& pattern, bool drawFrame = false);
    void Draw(IGraphics& g) override;
    void SetPattern(const IPattern& pattern);

private:
    IPattern mPattern;
    bool mDrawFrame;
};

// A line of text inside its rectangle over an optional background colour.
class ITextControl : public IControl {
public:
    ITextControl(const IRECT& bounds, const char* str = "", const IText& text = {},
                 const IColor& bgColor = COLOR_TRANSPARENT);
    void Draw(IGraphics& g) override;
    // Marks the control dirty only when the text changes.
    virtual void SetStr(const char* str);
    const std::string& GetStr() const { return mStr; }
    void SetText(const IText& text);
    const IText& GetText() const { return mText; }
    void SetBackgroundColor(const IColor& color) { mBGColor = color; }

protected:
    std::string mStr;
    IText mText;
    IColor mBGColor;
};

// A press sets the value to 1 and runs the action, then a 100 ms animation returns the value to 0.
class IButtonControlBase : public IControl {
public:
    explicit IButtonControlBase(const IRECT& bounds, IActionFunction action = nullptr);
    void OnMouseDown(float x, float y, const IMouseMod& mod) override;
    void OnEndAnimation() override;
};

// A press moves to the next of numStates states (wrapping), as the value state / (numStates - 1), and runs
// the action; a linked parameter gets the value inside one host gesture.
class ISwitchControlBase : public IControl {
public:
    ISwitchControlBase(const IRECT& bounds, int paramIdx = kNoParameter, IActionFunction action = nullptr,
                       int numStates = 2);
    void OnMouseDown(float x, float y, const IMouseMod& mod) override;
    int GetNumStates() const { return mNumStates; }
    // The current state: round(value x (numStates - 1)).
    int GetSelectedIdx() const;

protected:
    int mNumStates;
};

} // namespace iplug::igraphics
