#pragma once

// Framebuffer: a framebuffer object with a colour and a depth-stencil renderbuffer (NanoVG fills through
// the stencil). It keeps its pixels between frames, so that a frame may redraw only a part of it. Every
// call needs the owner's GL context current.

#include "framework/graphics/icolor.h"

#include <cstdint>
#include <vector>

namespace iplug::igraphics {

// A rectangle of device pixels, top-left origin.
struct PixelRect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

// Pixels top row first, four bytes (R, G, B, A) each.
struct RGBAImage {
    int w = 0;
    int h = 0;
    std::vector<std::uint8_t> rgba;
    // The pixel at (x, y); transparent outside the image.
    IColor At(int x, int y) const;
};

class Framebuffer {
public:
    Framebuffer() = default;
    Framebuffer(const Framebuffer&) = delete;
    Framebuffer& operator=(const Framebuffer&) = delete;

    // Allocates it for w x h pixels; true when its earlier pixels are kept (same size as before).
    // Throws std::runtime_error when the GL cannot complete it.
    bool Ensure(int w, int h);
    // Binds it, clears region to opaque black and confines drawing to region.
    void BeginRegion(const PixelRect& region);
    RGBAImage Read() const;
    // Copies it into the window's framebuffer.
    void BlitToWindow() const;
    // Frees the GL objects.
    void Release();
    int W() const { return mW; }
    int H() const { return mH; }

private:
    unsigned mFbo = 0;
    unsigned mColor = 0;
    unsigned mDepthStencil = 0;
    int mW = 0;
    int mH = 0;
};

} // namespace iplug::igraphics
