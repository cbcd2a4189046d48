#pragma once

// Offscreen rendering without a display: an EGL context on Mesa's surfaceless platform drawing into a
// framebuffer object with a stencil buffer (NanoVG fills through the stencil), read back as RGBA pixels
// and written as PNG.

#include "framework/graphics/framebuffer.h"
#include "framework/graphics/igraphics.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace iplug::igraphics {

// Writes the image as PNG (stb_image_write); false when the file could not be written.
bool WritePNG(const RGBAImage& image, const std::filesystem::path& path);
// The image coded as PNG in memory, for a caller that saves the bytes its own way; empty for an empty
// image.
std::vector<std::uint8_t> EncodePNG(const RGBAImage& image);
// Reads a PNG into RGBA pixels; an empty image when it cannot.
RGBAImage ReadPNG(const std::filesystem::path& path);

class OffscreenBackend : public IRenderBackend {
public:
    // Throws std::runtime_error with the reason when no EGL context can be made.
    OffscreenBackend();
    ~OffscreenBackend() override;
    OffscreenBackend(const OffscreenBackend&) = delete;
    OffscreenBackend& operator=(const OffscreenBackend&) = delete;

    void* OpenWindow(void*) override { return this; }
    void CloseWindow() noexcept override {}
    void MakeCurrent() override;
    bool PrepareFrame(int pixelW, int pixelH) override;
    void BeginFrame(const PixelRect& region) override;
    void EndFrame() override {}
    float ScreenScale() const override { return mScreenScale; }
    IPlatform& Platform() override { return mPlatform; }

    // Pretends a HiDPI screen of this many device pixels per window pixel.
    void SetScreenScale(float scale) { mScreenScale = scale; }
    // The framebuffer as drawn by the last frame.
    RGBAImage ReadPixels();
    // Waits until the GL has finished every frame drawn so far.
    void Finish();

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
    float mScreenScale = 1.f;
    HeadlessPlatform mPlatform;
};

// A graphics context on an offscreen backend (the design size at scale, no window).
std::unique_ptr<IGraphics> MakeOffscreenGraphics(IEditorDelegate* delegate, int w, int h, int fps,
                                                 float scale);

// The plug-in's make-graphics hook calls this: a graphics context on the process's default backend,
// offscreen unless a program installs another (the window program installs GLFW's).
std::unique_ptr<IGraphics> MakeGraphics(IEditorDelegate& delegate, int w, int h, int fps, float scale);
using BackendFactory = std::function<std::unique_ptr<IRenderBackend>()>;
// Main thread, before any editor opens; an empty factory restores the offscreen default.
void SetDefaultBackendFactory(BackendFactory factory);

} // namespace iplug::igraphics
