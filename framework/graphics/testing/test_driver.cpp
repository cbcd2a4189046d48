#include "framework/graphics/testing/test_driver.h"

#include <cmath>
#include <stdexcept>

namespace iplug::igraphics {

TestDriver::TestDriver(IGraphics& g) : mG(g), mNow(TimePoint(std::chrono::hours(1))) {
    mG.SetPlatform(this);
    mG.SetClock([this] { return mNow; });
}

TestDriver::~TestDriver() {
    mG.SetPlatform(nullptr);
    mG.SetClock(nullptr);
}

void TestDriver::AdvanceMs(double ms) {
    mNow += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
}

bool TestDriver::Tick() {
    return mG.OnFrame();
}

void TestDriver::RunFrames(int n) {
    for (int i = 0; i < n; ++i) {
        AdvanceMs(1000.0 / std::max(1, mG.FPS()));
        Tick();
    }
}

void TestDriver::MouseMove(float x, float y, const IMouseMod& mod) {
    mX = x;
    mY = y;
    IMouseMod m = mod;
    m.L = m.L || mHeld.L;
    m.R = m.R || mHeld.R;
    mG.OnMouseMove(x, y, m);
}

void TestDriver::MouseDown(float x, float y, const IMouseMod& mod) {
    if (x != mX || y != mY)
        MouseMove(x, y, IMouseMod(false, false, mod.S, mod.C, mod.A));
    mHeld = mod;
    mG.OnMouseDown(x, y, mod);
}

void TestDriver::MouseUp(float x, float y, const IMouseMod& mod) {
    if (x != mX || y != mY)
        MouseMove(x, y, mod);
    mHeld = {};
    mG.OnMouseUp(x, y, mod);
}

void TestDriver::Drag(float x0, float y0, float x1, float y1, int steps, const IMouseMod& mod) {
    MouseDown(x0, y0, mod);
    steps = std::max(1, steps);
    for (int i = 1; i <= steps; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(steps);
        MouseMove(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, mod);
    }
    MouseUp(x1, y1, mod);
}

void TestDriver::Click(float x, float y, const IMouseMod& mod) {
    MouseDown(x, y, mod);
    MouseUp(x, y, mod);
}

void TestDriver::DoubleClick(float x, float y, const IMouseMod& mod) {
    Click(x, y, mod);
    AdvanceMs(100.0);
    Click(x, y, mod);
}

void TestDriver::Wheel(float x, float y, float delta, const IMouseMod& mod) {
    if (x != mX || y != mY)
        MouseMove(x, y, mod);
    mG.OnMouseWheel(x, y, mod, delta);
}

void TestDriver::MouseLeave() {
    mG.OnMouseOut();
}

bool TestDriver::KeyDown(const IKeyPress& key) {
    return mG.OnKeyDown(mX, mY, key);
}
bool TestDriver::KeyUp(const IKeyPress& key) {
    return mG.OnKeyUp(mX, mY, key);
}

void TestDriver::CompleteFilePrompt(const std::string& path) {
    FilePromptCompletion completion = std::move(mPendingPrompt);
    mPendingPrompt = nullptr;
    if (completion)
        completion(path);
}

RGBAImage TestDriver::Render() {
    auto* backend = dynamic_cast<OffscreenBackend*>(&mG.GetBackend());
    if (!backend)
        throw std::logic_error("TestDriver renders only offscreen graphics contexts.");
    mG.Draw();
    mLastFrame = backend->ReadPixels();
    return mLastFrame;
}

bool TestDriver::RenderPNG(const std::string& path) {
    return WritePNG(Render(), path);
}

IColor TestDriver::PixelAt(float x, float y) {
    if (mLastFrame.w == 0)
        Render();
    const float s = mG.GetDrawScale() * mG.GetScreenScale();
    return mLastFrame.At(static_cast<int>(std::floor(x * s)), static_cast<int>(std::floor(y * s)));
}

bool TestDriver::SetTextInClipboard(const std::string& text) {
    if (mClipboardRefuses)
        return false;
    mClipboard = text;
    return true;
}

bool TestDriver::GetTextFromClipboard(std::string& text) {
    if (mClipboardRefuses)
        return false;
    text = mClipboard;
    return true;
}

bool TestDriver::OpenURL(const std::string& url) {
    mURLs.push_back(url);
    return mURLSucceeds;
}

void TestDriver::PromptForFile(const FilePromptRequest& request, FilePromptCompletion completion) {
    mPrompts.push_back(request);
    // A newer prompt replaces one still open, which counts as cancelled.
    if (mPendingPrompt)
        CompleteFilePrompt({});
    mPendingPrompt = std::move(completion);
}

} // namespace iplug::igraphics
