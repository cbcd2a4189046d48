#pragma once

// TestDriver: drives a graphics context in tests without a window. It injects a clock that moves only
// when told, stands in for the platform (a clipboard that can refuse, recorded URL and file-prompt
// calls, the cursor), scripts mouse and key events in design units and renders frames to pixels or PNG.

#include "framework/graphics/igraphics.h"
#include "framework/graphics/offscreen.h"

#include <string>
#include <vector>

namespace iplug::igraphics {

class TestDriver : public IPlatform {
public:
    // Installs itself as g's platform and clock (the clock starts at an arbitrary fixed point); g must be
    // an offscreen context for the rendering calls. Restores both when destroyed.
    explicit TestDriver(IGraphics& g);
    ~TestDriver() override;
    TestDriver(const TestDriver&) = delete;
    TestDriver& operator=(const TestDriver&) = delete;

    IGraphics& Graphics() { return mG; }

    // ---- Time
    TimePoint Now() const { return mNow; }
    void AdvanceMs(double ms);
    // One frame tick (animations, dirty polling, drawing when dirty); returns whether it drew.
    bool Tick();
    // n frames: each advances the clock by one frame period (1000 / fps ms) and ticks.
    void RunFrames(int n);

    // ---- Mouse, in design units. A press holds the left button unless mod says otherwise.
    void MouseMove(float x, float y, const IMouseMod& mod = {});
    void MouseDown(float x, float y, const IMouseMod& mod = IMouseMod(true));
    void MouseUp(float x, float y, const IMouseMod& mod = IMouseMod(true));
    // Press at (x0, y0), move in `steps` equal steps to (x1, y1), release there.
    void Drag(float x0, float y0, float x1, float y1, int steps = 4, const IMouseMod& mod = IMouseMod(true));
    void Click(float x, float y, const IMouseMod& mod = IMouseMod(true));
    // Two clicks 100 ms apart at the same point.
    void DoubleClick(float x, float y, const IMouseMod& mod = IMouseMod(true));
    void Wheel(float x, float y, float delta, const IMouseMod& mod = {});
    void MouseLeave();
    // A key at the last pointer position; returns whether it was handled.
    bool KeyDown(const IKeyPress& key);
    bool KeyUp(const IKeyPress& key);

    // ---- Platform stand-ins
    void SetClipboardRefuses(bool refuses) { mClipboardRefuses = refuses; }
    const std::string& Clipboard() const { return mClipboard; }
    const std::vector<std::string>& OpenedURLs() const { return mURLs; }
    // Whether OpenURL reports success (default true).
    void SetOpenURLSucceeds(bool succeeds) { mURLSucceeds = succeeds; }
    const std::vector<FilePromptRequest>& FilePrompts() const { return mPrompts; }
    bool FilePromptPending() const { return static_cast<bool>(mPendingPrompt); }
    // Completes the pending prompt with a path (empty: cancelled). Nothing when none is pending.
    void CompleteFilePrompt(const std::string& path);

    // ---- Queries
    std::string Tooltip() const { return mG.GetShownTooltip(); }
    ECursor Cursor() const { return mCursor; }

    // ---- Rendering: draws a frame now and reads it back.
    RGBAImage Render();
    bool RenderPNG(const std::string& path);
    // The colour of the device pixel under the design point (x, y) in the last rendered frame.
    IColor PixelAt(float x, float y);

    // IPlatform
    bool SetTextInClipboard(const std::string& text) override;
    bool GetTextFromClipboard(std::string& text) override;
    bool OpenURL(const std::string& url) override;
    void PromptForFile(const FilePromptRequest& request, FilePromptCompletion completion) override;
    void SetCursor(ECursor cursor) override { mCursor = cursor; }

private:
    IGraphics& mG;
    TimePoint mNow;
    IMouseMod mHeld;
    float mX = 0.f;
    float mY = 0.f;
    bool mClipboardRefuses = false;
    std::string mClipboard;
    std::vector<std::string> mURLs;
    bool mURLSucceeds = true;
    std::vector<FilePromptRequest> mPrompts;
    FilePromptCompletion mPendingPrompt;
    ECursor mCursor = ECursor::ARROW;
    RGBAImage mLastFrame;
};

} // namespace iplug::igraphics
