#pragma once

// IControl: the base of every control. A control has a drawing rectangle and a target rectangle (where
// the mouse reaches it), a tag and a group given when it is attached, a normalised value (0..1) that may
// be linked to a parameter of the editor delegate, hidden, disabled and ignore-mouse states, a tooltip,
// an action function run when the user changes it, and an animation function run at each frame tick.

#include "framework/graphics/igraphics.h"

#include <functional>
#include <string>

namespace iplug::igraphics {

class IControl;
using IActionFunction = std::function<void(IControl* caller)>;
using IAnimationFunction = std::function<void(IControl* caller)>;

// The click animation a button runs after its action, in milliseconds.
inline constexpr int DEFAULT_ANIMATION_DURATION = 100;

class IControl {
public:
    explicit IControl(const IRECT& bounds, int paramIdx = kNoParameter, IActionFunction action = nullptr);
    IControl(const IRECT& bounds, IActionFunction action);
    virtual ~IControl() = default;
    IControl(const IControl&) = delete;
    IControl& operator=(const IControl&) = delete;

    // ---- Drawing and dirtiness
    virtual void Draw(IGraphics& g) = 0;
    // Asked at every frame tick: whether the control needs drawing. The base answers true while an
    // animation runs or after SetDirty.
    virtual bool IsDirty();
    void SetDirty(bool triggerAction = true);
    void SetClean() { mDirty = false; }

    // ---- Mouse and keys (design units); the base does nothing.
    virtual void OnMouseDown(float x, float y, const IMouseMod& mod);
    virtual void OnMouseUp(float x, float y, const IMouseMod& mod);
    virtual void OnMouseDrag(float x, float y, float dX, float dY, const IMouseMod& mod);
    virtual void OnMouseDblClick(float x, float y, const IMouseMod& mod);
    virtual void OnMouseWheel(float x, float y, const IMouseMod& mod, float d);
    // Every pointer move over the control; the base marks the mouse as over it.
    virtual void OnMouseOver(float x, float y, const IMouseMod& mod);
    // The pointer left the control; the base clears the mouse-over state.
    virtual void OnMouseOut();
    virtual bool OnKeyDown(float x, float y, const IKeyPress& key);
    virtual bool OnKeyUp(float x, float y, const IKeyPress& key);
    // A file dropped on the control (UTF-8 path).
    virtual void OnDrop(const char* path);
    // A popup menu opened by this control closed: the menu with its chosen item, or nullptr when dismissed.
    virtual void OnPopupMenuSelection(IPopupMenu* menu, int valIdx);
    // The rectangles changed (SetRECT, SetTargetAndDrawRECTs).
    virtual void OnResize();
    // Attached to a graphics context (GetUI works from here on).
    virtual void OnAttached();
    // The animation ran its full duration; the base ends it and redraws.
    virtual void OnEndAnimation();

    // ---- Value and parameter link
    double GetValue() const { return mValue; }
    // Sets the normalised value (clamped to 0..1) and marks the control dirty; runs no action.
    virtual void SetValue(double value);
    // A value sent by the delegate for the linked parameter: sets it without running the action.
    virtual void SetValueFromDelegate(double normalizedValue);
    // A value the user chose at once (a click, a menu choice): sets it and runs SetDirty(true), which
    // runs the action and sends a linked parameter's value to the delegate inside one host gesture.
    virtual void SetValueFromUserInput(double normalizedValue);
    int GetParamIdx() const { return mParamIdx; }
    // The linked parameter, or null without a link, a delegate or such a parameter.
    const IParam* GetParam() const;
    void SetParamIdx(int paramIdx) { mParamIdx = paramIdx; }
    IEditorDelegate* GetDelegate() const { return mUI ? mUI->GetDelegate() : nullptr; }

    // ---- Geometry
    const IRECT& GetRECT() const { return mRECT; }
    const IRECT& GetTargetRECT() const { return mTargetRECT; }
    void SetRECT(const IRECT& r);
    void SetTargetRECT(const IRECT& r) { mTargetRECT = r; }
    void SetTargetAndDrawRECTs(const IRECT& r);

    // ---- Identity and state
    int GetTag() const { return mTag; }
    const std::string& GetGroup() const { return mGroup; }
    IGraphics* GetUI() const { return mUI; }
    bool IsHidden() const { return mHide; }
    virtual void Hide(bool hide);
    bool IsDisabled() const { return mDisabled; }
    virtual void SetDisabled(bool disable);
    bool GetIgnoreMouse() const { return mIgnoreMouse; }
    void SetIgnoreMouse(bool ignore) { mIgnoreMouse = ignore; }
    bool GetDblAsSingleClick() const { return mDblAsSingleClick; }
    void SetDblAsSingleClick(bool single) { mDblAsSingleClick = single; }
    bool GetMouseIsOver() const { return mMouseIsOver; }
    void SetMouseIsOver(bool over) { mMouseIsOver = over; }
    const std::string& GetTooltip() const { return mTooltip; }
    void SetTooltip(std::string tooltip) { mTooltip = std::move(tooltip); }

    // ---- Action and animation
    void SetActionFunction(IActionFunction action) { mActionFunc = std::move(action); }
    const IActionFunction& GetActionFunction() const { return mActionFunc; }
    // Runs func at every frame tick for durationMs (0: until it is replaced or cleared), from now on the
    // graphics clock. GetAnimationProgress is 0..1 over the duration.
    void SetAnimation(IAnimationFunction func, int durationMs);
    void SetAnimation(IAnimationFunction func) { SetAnimation(std::move(func), 0); }
    const IAnimationFunction& GetAnimationFunction() const { return mAnimationFunc; }
    double GetAnimationProgress() const;
    int GetAnimationDuration() const { return mAnimationDurationMs; }
    // Runs once when an animation of this control ends by its duration.
    void SetAnimationEndActionFunction(IActionFunction func) { mAnimationEndActionFunc = std::move(func); }
    // Called at every frame tick by the graphics context: runs the animation function, and ends a timed
    // animation once its duration has passed.
    void Animate();

    // Set by IGraphics when the control is attached.
    void SetAttachment(IGraphics* ui, int tag, std::string group);

protected:
    // Tells the editor delegate the linked parameter's new value (nothing without a link).
    void SendValueToDelegate();
    // Open and close a host gesture on the linked parameter (nothing without a link).
    void BeginParamGesture();
    void EndParamGesture();

    IRECT mRECT;
    IRECT mTargetRECT;
    double mValue = 0.0;
    int mParamIdx = kNoParameter;

private:
    IGraphics* mUI = nullptr;
    int mTag = kNoTag;
    std::string mGroup;
    bool mDirty = true;
    bool mHide = false;
    bool mDisabled = false;
    bool mIgnoreMouse = false;
    bool mDblAsSingleClick = false;
    bool mMouseIsOver = false;
    std::string mTooltip;
    IActionFunction mActionFunc;
    IAnimationFunction mAnimationFunc;
    IActionFunction mAnimationEndActionFunc;
    TimePoint mAnimationStart{};
    int mAnimationDurationMs = 0;
};

// A 100 ms click animation (the default animation function), during which the control redraws.
void DefaultClickActionFunc(IControl* caller);
// Does nothing itself: a timed animation keeps the control dirty until Animate ends it.
void DefaultAnimationFunc(IControl* caller);

} // namespace iplug::igraphics
