#include "framework/graphics/framebuffer.h"

#include "framework/graphics/nanovg_gl_api.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace iplug::igraphics {

IColor RGBAImage::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= w || y >= h)
        return COLOR_TRANSPARENT;
    const std::uint8_t* p =
        &rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 4];
    return {p[3], p[0], p[1], p[2]};
}

bool Framebuffer::Ensure(int w, int h) {
    if (mFbo != 0 && mW == w && mH == h)
        return true;
    if (mFbo == 0) {
        glGenFramebuffers(1, &mFbo);
        glGenRenderbuffers(1, &mColor);
        glGenRenderbuffers(1, &mDepthStencil);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, mFbo);
    glBindRenderbuffer(GL_RENDERBUFFER, mColor);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, w, h);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, mColor);
    glBindRenderbuffer(GL_RENDERBUFFER, mDepthStencil);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, w, h);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, mDepthStencil);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        throw std::runtime_error("The framebuffer of " + std::to_string(w) + " x " + std::to_string(h) +
                                 " pixels is incomplete.");
    mW = w;
    mH = h;
    return false;
}

void Framebuffer::BeginRegion(const PixelRect& r) {
    glBindFramebuffer(GL_FRAMEBUFFER, mFbo);
    // GL counts rows from the bottom.
    const int glY = mH - r.y - r.h;
    glEnable(GL_SCISSOR_TEST);
    glScissor(r.x, glY, r.w, r.h);
    glClearColor(0.f, 0.f, 0.f, 1.f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    // NanoVG draws into the viewport; the rasteriser drops everything outside it.
    glViewport(r.x, glY, r.w, r.h);
}

RGBAImage Framebuffer::Read() const {
    RGBAImage image;
    if (mFbo == 0)
        return image;
    image.w = mW;
    image.h = mH;
    image.rgba.resize(static_cast<std::size_t>(mW) * static_cast<std::size_t>(mH) * 4);
    std::vector<std::uint8_t> flipped(image.rgba.size());
    glBindFramebuffer(GL_FRAMEBUFFER, mFbo);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, mW, mH, GL_RGBA, GL_UNSIGNED_BYTE, flipped.data());
    const std::size_t row = static_cast<std::size_t>(mW) * 4;
    for (int y = 0; y < mH; ++y)
        std::memcpy(&image.rgba[static_cast<std::size_t>(y) * row],
                    &flipped[static_cast<std::size_t>(mH - 1 - y) * row], row);
    return image;
}

void Framebuffer::BlitToWindow() const {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, mFbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glBlitFramebuffer(0, 0, mW, mH, 0, 0, mW, mH, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, mFbo);
}

void Framebuffer::Release() {
    if (mFbo == 0)
        return;
    glDeleteFramebuffers(1, &mFbo);
    glDeleteRenderbuffers(1, &mColor);
    glDeleteRenderbuffers(1, &mDepthStencil);
    mFbo = mColor = mDepthStencil = 0;
    mW = mH = 0;
}

} // namespace iplug::igraphics
