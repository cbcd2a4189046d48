#pragma once

// The editor delegate: what an editor (the graphics layer) reaches of its plug-in, and the editor
// hooks. It owns the parameters, the editor while it is open, the make-graphics and layout hooks and
// the editor size.
//
// Order when the host opens the editor (OpenWindow): the make-graphics hook makes the editor; GetUI()
// returns it from here on; the editor opens its window (IEditor::OpenWindow); the layout hook runs
// with the editor's graphics context; OnUIOpen. When the host closes it (CloseWindow): OnUIClose while
// GetUI() still returns the editor, then the window closes and the editor is destroyed; GetUI() is
// null again. A failure to make or open the editor leaves no editor and calls neither hook.
//
// Threads: everything about the editor runs on the host's main thread. Parameters: see param.h.

#include "framework/param.h"

#include <functional>
#include <memory>
#include <vector>

namespace iplug {

namespace igraphics {
class IGraphics;
}

// An open editor as its delegate sees it; the graphics layer implements it.
class IEditor {
public:
    virtual ~IEditor() = default;
    // The graphics context that the layout hook and the plug-in's control lookups use.
    virtual igraphics::IGraphics* GetGraphics() noexcept = 0;
    // Opens the window inside `parent` (null: a window of its own, or an offscreen surface). Returns
    // the platform view, or null when the window cannot be made.
    virtual void* OpenWindow(void* parent) = 0;
    virtual void CloseWindow() noexcept = 0;
    // A parameter changed outside the editor: controls linked to it show the value (0..1) without
    // sending it back.
    virtual void SetParameterValueFromDelegate(int paramIdx, double normalizedValue) = 0;
};

class IEditorDelegate {
public:
    using MakeGraphicsFunc = std::function<std::unique_ptr<IEditor>()>;
    using LayoutFunc = std::function<void(igraphics::IGraphics*)>;

    // Makes nParams parameters, each undefined until its Init... call. Throws std::invalid_argument for
    // a negative count.
    explicit IEditorDelegate(int nParams);
    virtual ~IEditorDelegate();
    IEditorDelegate(const IEditorDelegate&) = delete;
    IEditorDelegate& operator=(const IEditorDelegate&) = delete;

    // Parameters. GetParam returns null for an index out of range. Realtime: wait-free.
    IParam* GetParam(int paramIdx) noexcept;
    const IParam* GetParam(int paramIdx) const noexcept;
    int NParams() const noexcept { return static_cast<int>(mParams.size()); }

    // The open editor's graphics context, or null while no editor is open.
    igraphics::IGraphics* GetUI() noexcept { return mEditor ? mEditor->GetGraphics() : nullptr; }
    IEditor* GetEditor() noexcept { return mEditor.get(); }
    bool HasEditorHooks() const noexcept { return static_cast<bool>(mMakeGraphicsFunc); }

    // Opens the editor in the order above; returns the platform view, or null (no hook, or the editor
    // could not be made or opened; an exception from the make hook or OpenWindow propagates after the
    // half-made editor is dropped). Opening an open editor returns null and changes nothing.
    void* OpenWindow(void* parent);
    // Closes the editor in the order above; nothing when none is open.
    void CloseWindow() noexcept;

    // Runs the layout hook on a graphics context (OpenWindow does; the graphics layer may again).
    void LayoutUI(igraphics::IGraphics* graphics);

    // Calls from the editor. A change of a parameter's value from a control, as 0..1; gestures are
    // bracketed by the begin and end calls so the host records one automation move.
    virtual void SendParameterValueFromUI(int paramIdx, double normalizedValue) = 0;
    virtual void BeginInformHostOfParamChangeFromUI(int paramIdx) = 0;
    virtual void EndInformHostOfParamChangeFromUI(int paramIdx) = 0;
    // The editor's own resize (corner resizer): records the size and, when needsPlatformResize, asks the
    // host to resize its window. Returns false when the host refused.
    virtual bool EditorResizeFromUI(int viewWidth, int viewHeight, bool needsPlatformResize);

    // Tells the open editor a parameter's value (non-normalized unless `normalized`); nothing while no
    // editor is open or for an index out of range. The parameter itself is not changed.
    void SendParameterValueFromDelegate(int paramIdx, double value, bool normalized);

    // Editor size in points, as the host sees it.
    void SetEditorSize(int width, int height) noexcept;
    int GetEditorWidth() const noexcept { return mEditorWidth; }
    int GetEditorHeight() const noexcept { return mEditorHeight; }
    void SetSizeConstraints(int minWidth, int maxWidth, int minHeight, int maxHeight) noexcept;
    int GetMinWidth() const noexcept { return mMinWidth; }
    int GetMaxWidth() const noexcept { return mMaxWidth; }
    int GetMinHeight() const noexcept { return mMinHeight; }
    int GetMaxHeight() const noexcept { return mMaxHeight; }

    // Editor entry points, main thread.
    virtual void OnUIOpen() {}
    virtual void OnUIClose() {}
    // The host resized the window that holds the editor (also while no editor is open).
    virtual void OnParentWindowResize(int width, int height) { (void)width, (void)height; }
    // Adjusts a size the host proposes to one the editor accepts; true when it was accepted unchanged.
    virtual bool ConstrainEditorResize(int& width, int& height) const {
        (void)width, (void)height;
        return true;
    }

protected:
    // Asks the host to resize the editor's window; true when it did.
    virtual bool ResizeHostWindow(int width, int height) {
        (void)width, (void)height;
        return false;
    }

    // The hooks, installed by the plug-in's constructor.
    MakeGraphicsFunc mMakeGraphicsFunc;
    LayoutFunc mLayoutFunc;

private:
    std::vector<std::unique_ptr<IParam>> mParams;
    std::unique_ptr<IEditor> mEditor;
    int mEditorWidth = 0;
    int mEditorHeight = 0;
    int mMinWidth = 0;
    int mMaxWidth = 0;
    int mMinHeight = 0;
    int mMaxHeight = 0;
};

} // namespace iplug
