#include "framework/graphics/window/glfw_backend.h"

#include "framework/graphics/nanovg_gl_api.h"

#include <GLFW/glfw3.h>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>

namespace iplug::igraphics {
namespace {

// GLFW is initialised once per process and never terminated while windows may remain.
void InitGlfw() {
    static const bool ok = glfwInit() == GLFW_TRUE;
    if (!ok)
        throw std::runtime_error("Couldn't start GLFW: is there a display (DISPLAY set, X server running)?");
}

int VirtualKey(int key) {
    if ((key >= GLFW_KEY_A && key <= GLFW_KEY_Z) || (key >= GLFW_KEY_0 && key <= GLFW_KEY_9))
        return key; // the same codes as the virtual keys
    switch (key) {
    case GLFW_KEY_BACKSPACE:
        return kVK_BACK;
    case GLFW_KEY_TAB:
        return kVK_TAB;
    case GLFW_KEY_ENTER:
    case GLFW_KEY_KP_ENTER:
        return kVK_RETURN;
    case GLFW_KEY_ESCAPE:
        return kVK_ESCAPE;
    case GLFW_KEY_SPACE:
        return kVK_SPACE;
    case GLFW_KEY_END:
        return kVK_END;
    case GLFW_KEY_HOME:
        return kVK_HOME;
    case GLFW_KEY_LEFT:
        return kVK_LEFT;
    case GLFW_KEY_UP:
        return kVK_UP;
    case GLFW_KEY_RIGHT:
        return kVK_RIGHT;
    case GLFW_KEY_DOWN:
        return kVK_DOWN;
    case GLFW_KEY_DELETE:
        return kVK_DELETE;
    default:
        return kVK_NONE;
    }
}

// Keys GLFW may follow with a character event, which it sends only while neither Ctrl nor Alt is held:
// the printable keys (the keypad's Enter is not one) and keys GLFW has no code for.
bool BringsCharacter(int key, int mods) {
    if (mods & (GLFW_MOD_CONTROL | GLFW_MOD_ALT))
        return false;
    return (key >= GLFW_KEY_SPACE && key <= GLFW_KEY_GRAVE_ACCENT) || key == GLFW_KEY_WORLD_1 ||
           key == GLFW_KEY_WORLD_2 ||
           (key >= GLFW_KEY_KP_0 && key <= GLFW_KEY_KP_EQUAL && key != GLFW_KEY_KP_ENTER) ||
           key == GLFW_KEY_UNKNOWN;
}

std::string Utf8(unsigned int codepoint) {
    std::string s;
    if (codepoint < 0x80) {
        s += static_cast<char>(codepoint);
    } else if (codepoint < 0x800) {
        s += static_cast<char>(0xC0 | (codepoint >> 6));
        s += static_cast<char>(0x80 | (codepoint & 0x3F));
    } else if (codepoint < 0x10000) {
        s += static_cast<char>(0xE0 | (codepoint >> 12));
        s += static_cast<char>(0x80 | ((codepoint >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (codepoint & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (codepoint >> 18));
        s += static_cast<char>(0x80 | ((codepoint >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((codepoint >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (codepoint & 0x3F));
    }
    return s;
}

GlfwBackend* Self(GLFWwindow* w) {
    return static_cast<GlfwBackend*>(glfwGetWindowUserPointer(w));
}

} // namespace

IKeyPress TranslateKey(int glfwKey, int glfwMods, const char* keyName) {
    const bool shift = glfwMods & GLFW_MOD_SHIFT, ctrl = glfwMods & GLFW_MOD_CONTROL,
               alt = glfwMods & GLFW_MOD_ALT;
    std::string text;
    if (glfwKey == GLFW_KEY_SPACE)
        text = " ";
    else if (keyName)
        text = keyName;
    // Key names are lower case; with Shift the letter is the capital one.
    if (shift && text.size() == 1 && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    (void)ctrl;
    return IKeyPress(text.c_str(), VirtualKey(glfwKey), shift, ctrl, alt);
}

GlfwBackend::GlfwBackend() {
    InitGlfw();
    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_STENCIL_BITS, 8);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    // The window follows the drawing scale through the corner resizer, not the window manager.
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    mWindow = glfwCreateWindow(640, 480, "Corvalinth", nullptr, nullptr);
    if (!mWindow)
        throw std::runtime_error("Couldn't create a window with an OpenGL 3.3 context.");
    glfwSetWindowUserPointer(mWindow, this);
    glfwMakeContextCurrent(mWindow);
    glfwSwapInterval(0); // the frame tick paces drawing
    mPlatform = std::make_unique<DesktopPlatform>(
        [this](const std::string& text) {
            glfwSetClipboardString(mWindow, text.c_str());
            return true;
        },
        [this](std::string& text) {
            const char* s = glfwGetClipboardString(mWindow);
            if (!s)
                return false;
            text = s;
            return true;
        },
        [this](ECursor cursor) {
            int shape = GLFW_ARROW_CURSOR;
            switch (cursor) {
            case ECursor::IBEAM:
                shape = GLFW_IBEAM_CURSOR;
                break;
            case ECursor::CROSS:
                shape = GLFW_CROSSHAIR_CURSOR;
                break;
            case ECursor::HAND:
                shape = GLFW_HAND_CURSOR;
                break;
            case ECursor::SIZEWE:
                shape = GLFW_HRESIZE_CURSOR;
                break;
            case ECursor::SIZENS:
            case ECursor::SIZENWSE:
            case ECursor::SIZENESW:
            case ECursor::SIZEALL:
                shape = GLFW_VRESIZE_CURSOR;
                break;
            default:
                break;
            }
            static GLFWcursor* cursors[8] = {};
            GLFWcursor*& c = cursors[shape - GLFW_ARROW_CURSOR];
            if (!c)
                c = glfwCreateStandardCursor(shape);
            glfwSetCursor(mWindow, c);
        });
    InstallCallbacks();
}

GlfwBackend::~GlfwBackend() {
    mPlatform.reset();
    MakeCurrent();
    mFramebuffer.Release();
    glfwDestroyWindow(mWindow);
}

void GlfwBackend::SetGraphics(IGraphics* graphics) {
    mGraphics = graphics;
    mPlatform->SetGraphics(graphics);
    graphics->mOnPlatformResize = [this](int w, int h) { FitWindow(w, h); };
    FitWindow(graphics->WindowWidth(), graphics->WindowHeight());
}

void* GlfwBackend::OpenWindow(void*) {
    if (mGraphics)
        FitWindow(mGraphics->WindowWidth(), mGraphics->WindowHeight());
    glfwShowWindow(mWindow);
    return mWindow;
}

void GlfwBackend::CloseWindow() noexcept {
    glfwHideWindow(mWindow);
}

void GlfwBackend::MakeCurrent() {
    if (glfwGetCurrentContext() != mWindow)
        glfwMakeContextCurrent(mWindow);
}

float GlfwBackend::ScreenScale() const {
    // X11 has no logical pixels: a HiDPI screen shows as a content scale (from Xft.dpi), and the window
    // is made that much larger in pixels.
    float xs = 1.f, ys = 1.f;
    glfwGetWindowContentScale(mWindow, &xs, &ys);
    return std::isfinite(xs) && xs > 0.f ? xs : 1.f;
}

void GlfwBackend::FitWindow(int windowW, int windowH) {
    const float s = ScreenScale();
    glfwSetWindowSize(mWindow, static_cast<int>(std::lround(float(windowW) * s)),
                      static_cast<int>(std::lround(float(windowH) * s)));
}

bool GlfwBackend::PrepareFrame(int pixelW, int pixelH) {
    return mFramebuffer.Ensure(pixelW, pixelH);
}

void GlfwBackend::BeginFrame(const PixelRect& region) {
    mFramebuffer.BeginRegion(region);
}

void GlfwBackend::EndFrame() {
    if (mCaptureFrames)
        mLastFrame = mFramebuffer.Read();
    Present();
}

void GlfwBackend::Present() {
    mPresentAgain = false;
    if (mFramebuffer.W() == 0)
        return; // nothing drawn yet: the first frame tick presents
    MakeCurrent();
    int w = 0, h = 0;
    glfwGetFramebufferSize(mWindow, &w, &h);
    // Mesa's software rasteriser takes a window's new size only at its next swap: the first frame at a
    // new size is shown once more, or all but the old size's corner of it would stay black.
    const int times = w == mPresentedW && h == mPresentedH ? 1 : 2;
    for (int i = 0; i < times; ++i) {
        glViewport(0, 0, w, h);
        mFramebuffer.BlitToWindow();
        glfwSwapBuffers(mWindow);
    }
    mPresentedW = w;
    mPresentedH = h;
}

// Pointer positions come in window pixels: the drawing scale times the screen's content scale.
float GlfwBackend::DesignX(double x) const {
    return static_cast<float>(x) / (mGraphics ? mGraphics->GetDrawScale() * ScreenScale() : 1.f);
}
float GlfwBackend::DesignY(double y) const {
    return static_cast<float>(y) / (mGraphics ? mGraphics->GetDrawScale() * ScreenScale() : 1.f);
}

IMouseMod GlfwBackend::Mods(int m) const {
    return IMouseMod(mLeftDown, mRightDown, m & GLFW_MOD_SHIFT, m & GLFW_MOD_CONTROL, m & GLFW_MOD_ALT);
}

void GlfwBackend::InstallCallbacks() {
    // The X server keeps no copy of the window: after it grows (the size it asked for arrives after the
    // first frame went out) or is uncovered, the framebuffer, which holds the whole frame, is shown again.
    // A window at rest draws nothing, so without this it would stay black.
    glfwSetWindowRefreshCallback(mWindow, [](GLFWwindow* w) { Self(w)->mPresentAgain = true; });
    glfwSetFramebufferSizeCallback(mWindow, [](GLFWwindow* w, int, int) { Self(w)->mPresentAgain = true; });
    glfwSetCursorPosCallback(mWindow, [](GLFWwindow* w, double x, double y) {
        GlfwBackend* self = Self(w);
        self->mX = x;
        self->mY = y;
        if (!self->mGraphics)
            return;
        int mods = 0;
        if (glfwGetKey(w, GLFW_KEY_LEFT_SHIFT) || glfwGetKey(w, GLFW_KEY_RIGHT_SHIFT))
            mods |= GLFW_MOD_SHIFT;
        if (glfwGetKey(w, GLFW_KEY_LEFT_CONTROL) || glfwGetKey(w, GLFW_KEY_RIGHT_CONTROL))
            mods |= GLFW_MOD_CONTROL;
        if (glfwGetKey(w, GLFW_KEY_LEFT_ALT) || glfwGetKey(w, GLFW_KEY_RIGHT_ALT))
            mods |= GLFW_MOD_ALT;
        self->mGraphics->OnMouseMove(self->DesignX(x), self->DesignY(y), self->Mods(mods));
    });
    glfwSetCursorEnterCallback(mWindow, [](GLFWwindow* w, int entered) {
        GlfwBackend* self = Self(w);
        if (self->mGraphics && !entered)
            self->mGraphics->OnMouseOut();
    });
    glfwSetMouseButtonCallback(mWindow, [](GLFWwindow* w, int button, int action, int mods) {
        GlfwBackend* self = Self(w);
        if (!self->mGraphics || (button != GLFW_MOUSE_BUTTON_LEFT && button != GLFW_MOUSE_BUTTON_RIGHT))
            return;
        bool& held = button == GLFW_MOUSE_BUTTON_LEFT ? self->mLeftDown : self->mRightDown;
        const float x = self->DesignX(self->mX), y = self->DesignY(self->mY);
        if (action == GLFW_PRESS) {
            held = true;
            IMouseMod mod = self->Mods(mods);
            mod.L = button == GLFW_MOUSE_BUTTON_LEFT;
            mod.R = button == GLFW_MOUSE_BUTTON_RIGHT;
            self->mGraphics->OnMouseDown(x, y, mod);
        } else {
            IMouseMod mod = self->Mods(mods);
            held = false;
            self->mGraphics->OnMouseUp(x, y, mod);
        }
    });
    glfwSetScrollCallback(mWindow, [](GLFWwindow* w, double, double dy) {
        GlfwBackend* self = Self(w);
        if (!self->mGraphics)
            return;
        int mods = 0;
        if (glfwGetKey(w, GLFW_KEY_LEFT_SHIFT) || glfwGetKey(w, GLFW_KEY_RIGHT_SHIFT))
            mods |= GLFW_MOD_SHIFT;
        if (glfwGetKey(w, GLFW_KEY_LEFT_CONTROL) || glfwGetKey(w, GLFW_KEY_RIGHT_CONTROL))
            mods |= GLFW_MOD_CONTROL;
        if (glfwGetKey(w, GLFW_KEY_LEFT_ALT) || glfwGetKey(w, GLFW_KEY_RIGHT_ALT))
            mods |= GLFW_MOD_ALT;
        self->mGraphics->OnMouseWheel(self->DesignX(self->mX), self->DesignY(self->mY), self->Mods(mods),
                                      static_cast<float>(dy));
    });
    glfwSetKeyCallback(mWindow, [](GLFWwindow* w, int key, int scancode, int action, int mods) {
        Self(w)->OnKey(key, scancode, action, mods);
    });
    glfwSetCharCallback(mWindow,
                        [](GLFWwindow* w, unsigned int codepoint) { Self(w)->OnCharacter(codepoint); });
}

void GlfwBackend::OnKey(int key, int scancode, int action, int mods) {
    if (!mGraphics)
        return;
    FlushPendingKey();
    const float x = DesignX(mX), y = DesignY(mY);
    if (action == GLFW_RELEASE) {
        mGraphics->OnKeyUp(x, y, TranslateKey(key, mods, glfwGetKeyName(key, scancode)));
        return;
    }
    // Such a key is typed by the character event that follows it, with the character's text: delivering
    // it here too would type it twice.
    if (BringsCharacter(key, mods)) {
        mPendingKey = PendingKey{key, mods};
        return;
    }
    KeyDown(x, y, TranslateKey(key, mods, glfwGetKeyName(key, scancode)));
}

void GlfwBackend::OnCharacter(unsigned int codepoint) {
    if (!mGraphics)
        return;
    // A character without a key before it (an input method's) comes without a key code.
    const PendingKey pending = mPendingKey.value_or(PendingKey{GLFW_KEY_UNKNOWN, 0});
    mPendingKey.reset();
    const std::string text = Utf8(codepoint);
    const IKeyPress press = TranslateKey(pending.key, pending.mods, nullptr);
    KeyDown(DesignX(mX), DesignY(mY), IKeyPress(text.c_str(), press.VK, press.S, press.C, press.A));
}

void GlfwBackend::FlushPendingKey() {
    if (!mPendingKey || !mGraphics)
        return;
    const PendingKey pending = *mPendingKey;
    mPendingKey.reset();
    // No character came (a dead key, the keypad with Num Lock off): the key goes without text, so a
    // field types nothing for it while the editor still sees its code.
    KeyDown(DesignX(mX), DesignY(mY), TranslateKey(pending.key, pending.mods, nullptr));
}

void GlfwBackend::KeyDown(float x, float y, const IKeyPress& key) {
    if (!mGraphics->OnKeyDown(x, y, key) && mOnUnhandledKey)
        mOnUnhandledKey(key);
}

bool GlfwBackend::PumpOnce(double waitSeconds) {
    if (waitSeconds > 0.0)
        glfwWaitEventsTimeout(waitSeconds);
    else
        glfwPollEvents();
    // GLFW sends a key's character event right after the key, within the same poll.
    FlushPendingKey();
    const bool drew = mGraphics && mGraphics->OnFrame();
    if (mPresentAgain && !drew)
        Present();
    return !glfwWindowShouldClose(mWindow);
}

void GlfwBackend::Run() {
    const double period = 1.0 / std::max(1, mGraphics ? mGraphics->FPS() : 60);
    auto next = std::chrono::steady_clock::now();
    while (true) {
        next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(period));
        const double wait = std::chrono::duration<double>(next - std::chrono::steady_clock::now()).count();
        if (!PumpOnce(std::max(wait, 0.0)))
            break;
        if (std::chrono::steady_clock::now() > next + std::chrono::seconds(1))
            next = std::chrono::steady_clock::now(); // after a stall, do not race to catch up
    }
}

} // namespace iplug::igraphics
