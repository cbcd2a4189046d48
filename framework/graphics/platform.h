#pragma once

// Platform services the editor reaches through its graphics context: clipboard, opening a web address,
// the save-file prompt and the mouse cursor. Each backend supplies one; the test driver replaces it.

#include "framework/graphics/framebuffer.h"
#include "framework/graphics/input.h"

#include <functional>
#include <string>

namespace iplug::igraphics {

class IGraphics;

enum class EFileAction { Open, Save };

struct FilePromptRequest {
    EFileAction action = EFileAction::Save;
    std::string defaultName; // file name offered
    std::string folder;      // empty: the platform's choice
    std::string extension;   // without the dot, e.g. "wav"; empty for any
};

// Called once on the main thread with the chosen path, or with an empty path when the user cancelled.
using FilePromptCompletion = std::function<void(const std::string& path)>;

class IPlatform {
public:
    virtual ~IPlatform() = default;
    // Main thread. False when the clipboard refused the text.
    virtual bool SetTextInClipboard(const std::string& text) = 0;
    virtual bool GetTextFromClipboard(std::string& text) = 0;
    // Opens the address in the user's browser without a shell; false when that could not be started.
    virtual bool OpenURL(const std::string& url) = 0;
    // Starts the prompt; the completion runs later, from a frame tick, or at once when no prompt can show.
    virtual void PromptForFile(const FilePromptRequest& request, FilePromptCompletion completion) = 0;
    virtual void SetCursor(ECursor cursor) = 0;
    // Called at every frame tick on the main thread, to finish what runs in the background.
    virtual void Poll() {}
};

// What a context without a desktop has: a private clipboard, no browser, every file prompt cancelled.
class HeadlessPlatform : public IPlatform {
public:
    bool SetTextInClipboard(const std::string& text) override {
        mClipboard = text;
        return true;
    }
    bool GetTextFromClipboard(std::string& text) override {
        text = mClipboard;
        return true;
    }
    bool OpenURL(const std::string&) override { return false; }
    void PromptForFile(const FilePromptRequest&, FilePromptCompletion completion) override {
        if (completion)
            completion({});
    }
    void SetCursor(ECursor) override {}

private:
    std::string mClipboard;
};

// A place that owns a GL context and a framebuffer to draw frames into.
class IRenderBackend {
public:
    virtual ~IRenderBackend() = default;
    // Shows the window (inside parent when given); returns the platform view, or null when it cannot.
    virtual void* OpenWindow(void* parent) = 0;
    virtual void CloseWindow() noexcept = 0;
    virtual void MakeCurrent() = 0;
    // Makes ready a framebuffer of w x h device pixels; true when it still holds the last frame's pixels
    // (so a frame may redraw a part of it), false when it is new or was resized.
    virtual bool PrepareFrame(int pixelW, int pixelH) = 0;
    // Starts a frame that redraws region (cleared first; drawing outside it is dropped).
    virtual void BeginFrame(const PixelRect& region) = 0;
    // Finishes the frame (presents it in a window).
    virtual void EndFrame() = 0;
    // Device pixels per logical window pixel (2 on a HiDPI screen).
    virtual float ScreenScale() const = 0;
    virtual IPlatform& Platform() = 0;
    // The context that draws through this backend, told once by its constructor (windows route their
    // events to it).
    virtual void SetGraphics(IGraphics* graphics) { (void)graphics; }
};

} // namespace iplug::igraphics
