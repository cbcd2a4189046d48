#pragma once

// IGraphics: the editor's graphics context. It owns the controls (attach order is z-order), routes mouse
// and key events to them, runs a frame tick that polls every control for dirtiness and redraws, and draws
// on NanoVG in design units, scaled to the window. All of it runs on the main thread.
//
// Event rules the editor relies on:
// - The control for a pointer position is the topmost one that is not hidden and does not ignore the
//   mouse. A disabled control there receives nothing and shields what lies under it.
// - A press goes to that control and captures it: drags and the release go to it wherever the pointer
//   is, until the release. Drag deltas are in design units, from the previous event.
// - A second press within 400 ms and 4 design units of the previous one, on the same control, is a
//   double-click: the control gets only OnMouseDblClick for it (then drags and the release as usual),
//   unless it treats double-clicks as single clicks (SetDblAsSingleClick), when it gets OnMouseDown.
// - Moving without a button sends OnMouseOver to the control under the pointer at every move, and
//   OnMouseOut to the one it left (also when it was hidden or disabled meanwhile). No over or out is
//   sent while a control is captured; they resume with the first move after the release.
// - The wheel goes to the control under the pointer.
// - A key goes to an open popup menu first, then to the key handler function, then to the control under
//   the pointer. A key-up goes to the key handler only.
// - An open popup menu is modal: it takes every mouse event; a press outside it cancels it. A modal
//   control (ShowModalControl) takes every mouse event and key while shown: a move reaches it as
//   OnMouseOver, a press as OnMouseDown, which captures it until the release.

#include "framework/editor_delegate.h"
#include "framework/graphics/icolor.h"
#include "framework/graphics/input.h"
#include "framework/graphics/irect.h"
#include "framework/graphics/itext.h"
#include "framework/graphics/path.h"
#include "framework/graphics/platform.h"
#include "framework/graphics/svg.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct NVGcontext;

namespace iplug::igraphics {

class IControl;
class IPopupMenu;
class IPopupMenuControl;
class ICornerResizerControl;
class GradientCache;

inline constexpr int kNoTag = -1;
inline constexpr int kNoParameter = -1;

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

// A loaded bitmap (a NanoVG image of the context that loaded it). Invalid when default-made.
struct IBitmap {
    int mImage = 0; // NanoVG image handle, 0 for none
    int mW = 0;     // pixels
    int mH = 0;
    int mNStates = 1;
    std::string mName;
    bool IsValid() const { return mImage != 0; }
    int W() const { return mW; }
    int H() const { return mH; }
};

enum class EUIResizerMode { Scale, Size };

class IGraphics : public IEditor {
public:
    // w, h: the design size; fps: frame ticks per second the backend aims at; scale: the initial drawing
    // scale. Makes the backend's GL context current and creates the NanoVG context on it. The delegate
    // (null in tests that need none) outlives the context.
    IGraphics(IEditorDelegate* delegate, int w, int h, int fps, float scale,
              std::unique_ptr<IRenderBackend> backend);
    ~IGraphics() override;
    IGraphics(const IGraphics&) = delete;
    IGraphics& operator=(const IGraphics&) = delete;

    IEditorDelegate* GetDelegate() const { return mDelegate; }

    // ---- IEditor: what the editor delegate sees of an open editor.
    IGraphics* GetGraphics() noexcept override { return this; }
    // Opens the backend's window (an offscreen context has none and returns itself as the view).
    void* OpenWindow(void* parent) override;
    void CloseWindow() noexcept override;
    // Every control linked to the parameter shows the value, without sending it back.
    void SetParameterValueFromDelegate(int paramIdx, double normalizedValue) override;

    // ---- Size and scale
    int Width() const { return mWidth; }   // design units
    int Height() const { return mHeight; } // design units
    int FPS() const { return mFPS; }
    float GetDrawScale() const { return mDrawScale; }
    float GetScreenScale() const; // device pixels per window pixel (HiDPI)
    // The window's size in window pixels: the design size times the drawing scale, rounded.
    int WindowWidth() const;
    int WindowHeight() const;
    IRECT GetBounds() const { return {0.f, 0.f, float(mWidth), float(mHeight)}; }
    void SetScaleConstraints(float lo, float hi);
    float GetMinScale() const { return mMinScale; }
    float GetMaxScale() const { return mMaxScale; }
    // Sets the design size and the drawing scale (clamped to the constraints); controls keep their
    // rectangles (no re-layout). Marks everything dirty. needsPlatformResize: the window follows.
    void Resize(int w, int h, float scale, bool needsPlatformResize = true);
    // Called when the window changes its size or scale: a window of this many window pixels.
    std::function<void(int windowW, int windowH)> mOnPlatformResize;

    // ---- Controls (attach order is z-order: later is on top)
    template <class T>
    T* AttachControl(std::unique_ptr<T> control, int tag = kNoTag, const std::string& group = {}) {
        T* raw = control.get();
        AttachControlImpl(std::move(control), tag, group);
        return raw;
    }
    // The background: a panel over the whole window below every other control.
    IControl* AttachPanelBackground(const IPattern& pattern);
    ICornerResizerControl* AttachCornerResizer(EUIResizerMode mode, bool layoutOnResize, const IColor& color,
                                               const IColor& mouseOverColor, const IColor& dragColor,
                                               float size = 20.f);
    IPopupMenuControl* AttachPopupMenuControl(const IText& text, const IRECT& bounds = {});
    IPopupMenuControl* GetPopupMenuControl() const { return mPopupMenu.get(); }
    ICornerResizerControl* GetCornerResizer() const { return mCornerResizer.get(); }
    void RemoveControl(IControl* control);
    void RemoveAllControls();
    int NControls() const { return static_cast<int>(mControls.size()); }
    IControl* GetControl(int index) const;
    IControl* GetControlWithTag(int tag) const; // nullptr when none has it
    void ForAllControls(const std::function<void(IControl&)>& func);
    void ForControlInGroup(const std::string& group, const std::function<void(IControl&)>& func);
    void SetAllControlsDirty();
    // The control a press at (x, y) would reach (nullptr for none), by the rules above.
    IControl* GetMouseControl(float x, float y) const;

    // ---- Popup menus: opens the attached popup menu control with menu over bounds. The choice goes to
    // the menu's function when it has one, else to caller's OnPopupMenuSelection (nullptr: dismissed).
    void CreatePopupMenu(IControl* caller, IPopupMenu& menu, const IRECT& bounds);
    bool IsPopupMenuOpen() const;

    // ---- A modal control above everything (a platform's drawn prompt): while shown it gets every
    // mouse event and key first, as an open popup menu does. It may close itself from its handlers.
    void ShowModalControl(std::unique_ptr<IControl> control);
    void CloseModalControl();
    IControl* GetModalControl() const { return mModal.get(); }

    // ---- Events (design units); the backends and the test driver call these.
    void OnMouseDown(float x, float y, const IMouseMod& mod);
    void OnMouseUp(float x, float y, const IMouseMod& mod);
    // Pointer motion: a drag while a control is captured, else hovering.
    void OnMouseMove(float x, float y, const IMouseMod& mod);
    void OnMouseWheel(float x, float y, const IMouseMod& mod, float delta);
    // The pointer left the window.
    void OnMouseOut();
    bool OnKeyDown(float x, float y, const IKeyPress& key);
    bool OnKeyUp(float x, float y, const IKeyPress& key);
    using KeyHandlerFunc = std::function<bool(const IKeyPress& key, bool isUp)>;
    void SetKeyHandlerFunc(KeyHandlerFunc func) { mKeyHandler = std::move(func); }
    IControl* GetCapturedControl() const { return mCaptured; }
    IControl* GetMouseOverControl() const { return mMouseOver; }

    // ---- Frame tick: runs every control's animation, asks every control IsDirty (each one, every tick,
    // so animations advance) and redraws where controls are dirty: the union of their rectangles grown
    // by kDirtyMargin (room for their shadows), every control that reaches into it drawn again there.
    // Returns whether it drew.
    bool OnFrame();
    // Draws every visible control now, whatever is dirty.
    void Draw();
    // Draws again the part of the window under region (design units).
    void DrawRegion(const IRECT& region);
    // Marks an area for the next frame tick to draw again (where a control was before it moved).
    void AddDirtyArea(const IRECT& area) { mStaleArea = mStaleArea.Union(area); }
    // How far around a dirty control's rectangle a frame redraws (design units): the widest shadow a
    // painter draws outside its rectangle.
    static constexpr float kDirtyMargin = 32.f;

    // ---- Time: the steady clock, or the one the test driver injects.
    TimePoint Now() const { return mClock ? mClock() : Clock::now(); }
    void SetClock(std::function<TimePoint()> clock) { mClock = std::move(clock); }

    // ---- Tooltips: shown once the pointer has rested 500 ms over a control that has one, while that
    // control is still the one under the pointer and no menu or modal control is open.
    void EnableTooltips(bool enable);
    bool TooltipsEnabled() const { return mTooltipsEnabled; }
    // The tooltip showing now, empty when none.
    std::string GetShownTooltip() const;

    // ---- Cursor and platform services
    void SetMouseCursor(ECursor cursor);
    ECursor GetMouseCursor() const { return mCursor; }
    IPlatform& Platform();
    // Replaces the backend's services (the test driver's fakes); nullptr restores the backend's.
    void SetPlatform(IPlatform* platform) { mPlatformOverride = platform; }
    bool SetTextInClipboard(const std::string& text) { return Platform().SetTextInClipboard(text); }
    bool GetTextFromClipboard(std::string& text) { return Platform().GetTextFromClipboard(text); }
    bool OpenURL(const std::string& url) { return Platform().OpenURL(url); }
    void PromptForFile(const FilePromptRequest& request, FilePromptCompletion completion) {
        Platform().PromptForFile(request, std::move(completion));
    }

    // ---- Resources, looked up in the resource folders (absolute paths are taken as they are).
    void AddResourcePath(const std::filesystem::path& folder) { mResourcePaths.push_back(folder); }
    std::filesystem::path FindResource(const std::string& fileName) const; // empty when not found
    // False when the file is missing or not a font.
    bool LoadFont(const std::string& fontID, const std::string& fileName);
    bool HasFont(const std::string& fontID) const { return mFonts.count(fontID) != 0; }
    // Cached by name; an invalid bitmap when the file is missing or unreadable.
    IBitmap LoadBitmap(const std::string& fileName, int nStates = 1);
    // From RGBA pixels (not premultiplied), cached by name.
    IBitmap LoadBitmapFromPixels(const std::string& name, int w, int h, const unsigned char* rgba);
    // Parses the SVG text once and caches it by name; later calls with the same name return the cached
    // icon. units and dpi are accepted for the callers' sake: icons are drawn by their viewBox. An
    // invalid ISVG when the text does not parse.
    ISVG LoadSVG(const std::string& name, const char* text, std::size_t length, const char* units = "px",
                 float dpi = 72.f);
    // From a file, cached by file name.
    ISVG LoadSVG(const std::string& fileName);

    // ---- Drawing (during Draw only; design units; blend weight scales opacity)
    void FillRect(const IColor& color, const IRECT& r, const IBlend* blend = nullptr);
    void DrawRect(const IColor& color, const IRECT& r, const IBlend* blend = nullptr, float thickness = 1.f);
    void FillRoundRect(const IColor& color, const IRECT& r, float cr, const IBlend* blend = nullptr);
    void FillRoundRect(const IColor& color, const IRECT& r, float tl, float tr, float br, float bl,
                       const IBlend* blend = nullptr);
    void DrawRoundRect(const IColor& color, const IRECT& r, float cr, const IBlend* blend = nullptr,
                       float thickness = 1.f);
    void DrawRoundRect(const IColor& color, const IRECT& r, float tl, float tr, float br, float bl,
                       const IBlend* blend = nullptr, float thickness = 1.f);
    void FillCircle(const IColor& color, float cx, float cy, float r, const IBlend* blend = nullptr);
    void DrawCircle(const IColor& color, float cx, float cy, float r, const IBlend* blend = nullptr,
                    float thickness = 1.f);
    void FillEllipse(const IColor& color, const IRECT& r, const IBlend* blend = nullptr);
    // Angles in degrees, 0 straight up, clockwise.
    void DrawArc(const IColor& color, float cx, float cy, float r, float fromDeg, float toDeg,
                 const IBlend* blend = nullptr, float thickness = 1.f);
    void DrawLine(const IColor& color, float x1, float y1, float x2, float y2, const IBlend* blend = nullptr,
                  float thickness = 1.f);
    void DrawDottedLine(const IColor& color, float x1, float y1, float x2, float y2,
                        const IBlend* blend = nullptr, float thickness = 1.f, float dashLength = 2.f);
    // Dashed outline of a rectangle, dashes and gaps dashLength long.
    void DrawDottedRect(const IColor& color, const IRECT& r, const IBlend* blend = nullptr,
                        float thickness = 1.f, float dashLength = 2.f);
    void DrawCubic(const IColor& color, float x1, float y1, float c1x, float c1y, float c2x, float c2y,
                   float x2, float y2, const IBlend* blend = nullptr, float thickness = 1.f);
    // n points joined by straight lines.
    void DrawData(const IColor& color, const float* xs, const float* ys, int n, const IBlend* blend = nullptr,
                  float thickness = 1.f);
    void FillConvexPolygon(const IColor& color, const float* xs, const float* ys, int n,
                           const IBlend* blend = nullptr);
    // A soft shadow: the inner rectangle moved down by yDrop, with corner radius roundness, blurred by
    // blur over the outer rectangle (also moved down), black at the blend's opacity.
    void DrawFastDropShadow(const IRECT& inner, const IRECT& outer, float yDrop = 5.f, float roundness = 0.f,
                            float blur = 10.f, const IBlend* blend = nullptr);
    // The bitmap's top-left part (from srcX, srcY pixels) at r's top-left corner, one pixel per design
    // unit, cut at r's right and bottom edges.
    void DrawBitmap(const IBitmap& bitmap, const IRECT& r, int srcX = 0, int srcY = 0,
                    const IBlend* blend = nullptr);
    // The whole bitmap stretched to r.
    void DrawFittedBitmap(const IBitmap& bitmap, const IRECT& r, const IBlend* blend = nullptr);
    // The bitmap repeated from r's top-left corner, one pixel per design unit, cut at r's edges.
    void DrawTiledBitmap(const IBitmap& bitmap, const IRECT& r, const IBlend* blend = nullptr);
    // The icon's viewBox fitted into r (aspect kept, centred); fill replaces currentColor (black without).
    void DrawSVG(const ISVG& svg, const IRECT& r, const IBlend* blend = nullptr,
                 const IColor* fill = nullptr);
    // str aligned inside bounds as text says. Lines separated by '\n' are stacked one line height apart
    // and aligned as one block; where bounds is too low for them all, the breaks are drawn as spaces.
    void DrawText(const IText& text, const char* str, const IRECT& bounds, const IBlend* blend = nullptr);
    // The advance width of str in text's font and size as DrawText lays it out inside bounds (of stacked
    // lines, the widest line's); bounds becomes the rectangle the text occupies there, all its lines.
    float MeasureText(const IText& text, const char* str, IRECT& bounds) const;
    // The advance width alone, as drawn in a box high enough for every line.
    float MeasureTextWidth(const IText& text, const char* str) const;

    // ---- Paths (design units). The path is replayed under the transform current at fill or stroke.
    void PathClear() { mPath.Clear(); }
    void PathMoveTo(float x, float y) { mPath.MoveTo(x, y); }
    void PathLineTo(float x, float y) { mPath.LineTo(x, y); }
    void PathCubicBezierTo(float c1x, float c1y, float c2x, float c2y, float x, float y) {
        mPath.CubicTo(c1x, c1y, c2x, c2y, x, y);
    }
    void PathQuadraticBezierTo(float cx, float cy, float x, float y) { mPath.QuadTo(cx, cy, x, y); }
    void PathArc(float cx, float cy, float r, float fromDeg, float toDeg, EWinding dir = EWinding::CW) {
        mPath.Arc(cx, cy, r, fromDeg, toDeg, dir);
    }
    void PathClose() { mPath.Close(); }
    void PathRect(const IRECT& r) { mPath.Rect(r); }
    void PathRoundRect(const IRECT& r, float cr) { mPath.RoundRect(r, cr); }
    void PathRoundRect(const IRECT& r, float tl, float tr, float br, float bl) {
        mPath.RoundRect(r, tl, tr, br, bl);
    }
    void PathCircle(float cx, float cy, float r) { mPath.Circle(cx, cy, r); }
    void PathEllipse(const IRECT& r) { mPath.Ellipse(r); }
    // Fill and stroke clear the path unless preserve is set.
    void PathFill(const IPattern& pattern, const IFillOptions& options = {}, const IBlend* blend = nullptr,
                  bool preserve = false);
    void PathStroke(const IPattern& pattern, float thickness, const IStrokeOptions& options = {},
                    const IBlend* blend = nullptr, bool preserve = false);
    // Transform, clip and global alpha are saved and restored together.
    void PathTransformSave();
    void PathTransformRestore();
    void PathTransformReset(); // back to the plain design-to-device scale
    void PathTransformTranslate(float x, float y);
    void PathTransformScale(float s);
    void PathTransformRotate(float degrees);
    // Clips later drawing to r (in the current transform), in place of the clip before; an empty r lets
    // nothing through. PathTransformRestore brings back the clip saved with the transform.
    void PathClipRegion(const IRECT& r);
    void SetGlobalAlpha(float alpha);

    NVGcontext* GetNVGContext() const { return mVG; }
    IRenderBackend& GetBackend() const { return *mBackend; }

protected:
    void AttachControlImpl(std::unique_ptr<IControl> control, int tag, const std::string& group);

private:
    int FontHandle(const std::string& id) const;
    // MeasureText in a box boxH high, anchored in bounds.
    float MeasureIn(const IText& text, const char* str, IRECT& bounds, float boxH) const;
    void ApplyPaint(const IPattern& pattern, bool stroke);
    void ReplayPath(const Path& path, const std::vector<ESubpathFill>* fills);
    float DeviceScale() const; // device pixels per design unit
    bool SnapAxisAligned(IRECT& r, float thickness) const;
    void DrawTooltip();
    void UpdateTooltip();
    void DispatchMouseOver(float x, float y, const IMouseMod& mod);

    IEditorDelegate* mDelegate = nullptr;
    std::unique_ptr<IRenderBackend> mBackend;
    NVGcontext* mVG = nullptr;
    std::unique_ptr<GradientCache> mGradients;
    int mWidth = 0;
    int mHeight = 0;
    int mFPS = 60;
    float mDrawScale = 1.f;
    float mMinScale = 0.1f;
    float mMaxScale = 10.f;
    bool mInFrame = false;

    std::vector<std::unique_ptr<IControl>> mControls;
    std::unique_ptr<IPopupMenuControl> mPopupMenu;
    std::unique_ptr<ICornerResizerControl> mCornerResizer;
    std::unique_ptr<IControl> mModal;
    std::unique_ptr<IControl> mRetiredModal;
    IControl* mCaptured = nullptr;
    IControl* mMouseOver = nullptr;
    float mLastX = 0.f;
    float mLastY = 0.f;
    bool mPointerInside = false;
    IControl* mLastPressControl = nullptr;
    TimePoint mLastPressTime{};
    float mLastPressX = 0.f;
    float mLastPressY = 0.f;
    bool mLastPressWasDouble = false;
    KeyHandlerFunc mKeyHandler;

    std::function<TimePoint()> mClock;
    bool mTooltipsEnabled = false;
    TimePoint mPointerRestStart{};
    std::string mShownTooltip;
    ECursor mCursor = ECursor::ARROW;
    IPlatform* mPlatformOverride = nullptr;

    std::vector<std::filesystem::path> mResourcePaths;
    std::map<std::string, int, std::less<>> mFonts;
    std::string mFirstFont;
    std::map<std::string, IBitmap, std::less<>> mBitmaps;
    std::map<std::string, ISVG, std::less<>> mSVGs;
    Path mPath;
    std::vector<float> mAlphaStack{1.f}; // global alpha, saved with the transform
    IRECT mStaleArea;                    // drawn again at the next frame tick
    float mFrameOffsetX = 0.f;           // device pixels: the drawn region's top-left corner
    float mFrameOffsetY = 0.f;
};

} // namespace iplug::igraphics
