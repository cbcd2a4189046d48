#pragma once

// GlfwBackend: the editor in a real window through GLFW under X11. The window opens hidden with its GL
// context when the graphics context is made, shows on OpenWindow, follows the drawing scale (the corner
// resizer), and turns GLFW's mouse, wheel and key events into the context's, in design units. On a HiDPI
// screen (an X11 content scale above 1) the window and its pixels grow by the content scale, which is the
// context's screen scale. Main thread only.

#include "framework/graphics/igraphics.h"
#include "framework/graphics/offscreen.h"
#include "framework/graphics/window/desktop_platform.h"

#include <functional>
#include <memory>
#include <optional>

struct GLFWwindow;

namespace iplug::igraphics {

// A GLFW key event as the editor's key press. GLFW sends no character event while Ctrl or Alt is held, so
// the text of such a key comes from its key name (keyName may be null for keys without one).
IKeyPress TranslateKey(int glfwKey, int glfwMods, const char* keyName);

class GlfwBackend : public IRenderBackend {
public:
    // Throws std::runtime_error when GLFW cannot start (no display) or the window cannot be made.
    GlfwBackend();
    ~GlfwBackend() override;
    GlfwBackend(const GlfwBackend&) = delete;
    GlfwBackend& operator=(const GlfwBackend&) = delete;

    void* OpenWindow(void* parent) override;
    void CloseWindow() noexcept override;
    void MakeCurrent() override;
    bool PrepareFrame(int pixelW, int pixelH) override;
    void BeginFrame(const PixelRect& region) override;
    void EndFrame() override;
    float ScreenScale() const override;
    IPlatform& Platform() override { return *mPlatform; }
    void SetGraphics(IGraphics* graphics) override;

    // Handles pending events and runs one frame tick; false once the user closed the window.
    bool PumpOnce(double waitSeconds);
    // Pumps at the context's frame rate until the window is closed.
    void Run();
    // A key the editor did not handle goes on to the window's host, as a DAW gets the keys a plug-in
    // passes on (Space for its transport).
    void SetUnhandledKeyHandler(std::function<void(const IKeyPress&)> handler) {
        mOnUnhandledKey = std::move(handler);
    }
    // The window's pixels as drawn by the last frame.
    RGBAImage LastFrame() const { return mLastFrame; }
    GLFWwindow* Window() const { return mWindow; }
    DesktopPlatform& Desktop() { return *mPlatform; }

private:
    void InstallCallbacks();
    // GLFW's key and character events. A key that brings a character waits for it, so that it is
    // delivered once, with the character's text; one whose character never comes is delivered at the
    // next key event or at the end of the pump.
    void OnKey(int key, int scancode, int action, int mods);
    void OnCharacter(unsigned int codepoint);
    void FlushPendingKey();
    void KeyDown(float x, float y, const IKeyPress& key);
    // Sizes the window for a context of windowW x windowH window pixels at the screen's content scale.
    void FitWindow(int windowW, int windowH);
    // Shows the framebuffer's frame in the window.
    void Present();
    IMouseMod Mods(int glfwMods) const;
    float DesignX(double x) const;
    float DesignY(double y) const;

    GLFWwindow* mWindow = nullptr;
    IGraphics* mGraphics = nullptr;
    std::unique_ptr<DesktopPlatform> mPlatform;
    bool mLeftDown = false;
    bool mRightDown = false;
    double mX = 0.0;
    double mY = 0.0;
    struct PendingKey {
        int key = 0;
        int mods = 0;
    };
    std::optional<PendingKey> mPendingKey; // a key waiting for its character event
    RGBAImage mLastFrame;
    // Frames are drawn here and copied to the window, so a frame may redraw a part of the window.
    Framebuffer mFramebuffer;
    bool mCaptureFrames = false;
    bool mPresentAgain = false; // the window was resized or exposed since the frame was shown
    int mPresentedW = 0;        // the window's size in pixels when a frame was last shown
    int mPresentedH = 0;

    std::function<void(const IKeyPress&)> mOnUnhandledKey;

public:
    // Tests: keep each frame's pixels for LastFrame.
    void SetCaptureFrames(bool capture) { mCaptureFrames = capture; }
};

} // namespace iplug::igraphics
