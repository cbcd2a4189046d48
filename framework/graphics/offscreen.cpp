#include "framework/graphics/offscreen.h"

#include "framework/graphics/nanovg_gl_api.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <cstring>
#include <stb/stb_image_write.h>
#include <stdexcept>
#include <string>

// NanoVG's bundled (renamed) stb_image decodes PNGs for the tests' golden images as well.
extern "C" unsigned char* dpf_stbi_load(const char* filename, int* x, int* y, int* comp, int req_comp);
extern "C" void dpf_stbi_image_free(void* retval_from_stbi_load);

namespace iplug::igraphics {
namespace {

// One surfaceless display per process, initialised on first use and kept: terminating it would pull the
// ground from under every other offscreen context.
EGLDisplay SharedDisplay() {
    static EGLDisplay display = [] {
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (!getPlatformDisplay)
            throw std::runtime_error(
                "EGL lacks eglGetPlatformDisplayEXT; offscreen drawing needs Mesa's EGL.");
        EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        EGLint major = 0, minor = 0;
        if (d == EGL_NO_DISPLAY || !eglInitialize(d, &major, &minor))
            throw std::runtime_error(
                "Couldn't open Mesa's surfaceless EGL display (is libegl-mesa0 installed?).");
        return d;
    }();
    return display;
}

} // namespace

struct OffscreenBackend::Impl {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    GLuint fbo = 0;
    GLuint color = 0;
    GLuint depthStencil = 0;
    int w = 0;
    int h = 0;
};

OffscreenBackend::OffscreenBackend() : mImpl(std::make_unique<Impl>()) {
    mImpl->display = SharedDisplay();
    if (!eglBindAPI(EGL_OPENGL_API))
        throw std::runtime_error("EGL cannot bind desktop OpenGL.");
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                 3,
                                 EGL_CONTEXT_MINOR_VERSION,
                                 3,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                 EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                 EGL_NONE};
    mImpl->context = eglCreateContext(mImpl->display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (mImpl->context == EGL_NO_CONTEXT)
        throw std::runtime_error("Couldn't create an OpenGL 3.3 context on the surfaceless display.");
    MakeCurrent();
}

OffscreenBackend::~OffscreenBackend() {
    MakeCurrent();
    if (mImpl->fbo) {
        glDeleteFramebuffers(1, &mImpl->fbo);
        glDeleteRenderbuffers(1, &mImpl->color);
        glDeleteRenderbuffers(1, &mImpl->depthStencil);
    }
    eglMakeCurrent(mImpl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(mImpl->display, mImpl->context);
}

void OffscreenBackend::MakeCurrent() {
    if (eglGetCurrentContext() != mImpl->context)
        eglMakeCurrent(mImpl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, mImpl->context);
}

void OffscreenBackend::BeginFrame(int pixelW, int pixelH) {
    Impl& m = *mImpl;
    if (m.fbo == 0 || m.w != pixelW || m.h != pixelH) {
        if (m.fbo == 0) {
            glGenFramebuffers(1, &m.fbo);
            glGenRenderbuffers(1, &m.color);
            glGenRenderbuffers(1, &m.depthStencil);
        }
        glBindFramebuffer(GL_FRAMEBUFFER, m.fbo);
        glBindRenderbuffer(GL_RENDERBUFFER, m.color);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, pixelW, pixelH);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m.color);
        glBindRenderbuffer(GL_RENDERBUFFER, m.depthStencil);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, pixelW, pixelH);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                                  m.depthStencil);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
            throw std::runtime_error("The offscreen framebuffer of " + std::to_string(pixelW) + " x " +
                                     std::to_string(pixelH) + " pixels is incomplete.");
        m.w = pixelW;
        m.h = pixelH;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, m.fbo);
    glViewport(0, 0, pixelW, pixelH);
    glClearColor(0.f, 0.f, 0.f, 1.f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

void OffscreenBackend::Finish() {
    MakeCurrent();
    glFinish();
}

RGBAImage OffscreenBackend::ReadPixels() {
    MakeCurrent();
    RGBAImage image;
    if (mImpl->fbo == 0)
        return image;
    image.w = mImpl->w;
    image.h = mImpl->h;
    image.rgba.resize(static_cast<std::size_t>(image.w) * static_cast<std::size_t>(image.h) * 4);
    glBindFramebuffer(GL_FRAMEBUFFER, mImpl->fbo);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    std::vector<std::uint8_t> flipped(image.rgba.size());
    glReadPixels(0, 0, image.w, image.h, GL_RGBA, GL_UNSIGNED_BYTE, flipped.data());
    // GL's rows run bottom to top.
    const std::size_t row = static_cast<std::size_t>(image.w) * 4;
    for (int y = 0; y < image.h; ++y)
        std::memcpy(&image.rgba[static_cast<std::size_t>(y) * row],
                    &flipped[static_cast<std::size_t>(image.h - 1 - y) * row], row);
    return image;
}

IColor RGBAImage::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= w || y >= h)
        return COLOR_TRANSPARENT;
    const std::uint8_t* p =
        &rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 4];
    return {p[3], p[0], p[1], p[2]};
}

bool WritePNG(const RGBAImage& image, const std::filesystem::path& path) {
    if (image.w <= 0 || image.h <= 0)
        return false;
    return stbi_write_png(path.string().c_str(), image.w, image.h, 4, image.rgba.data(), image.w * 4) != 0;
}

RGBAImage ReadPNG(const std::filesystem::path& path) {
    RGBAImage image;
    int comp = 0;
    unsigned char* data = dpf_stbi_load(path.string().c_str(), &image.w, &image.h, &comp, 4);
    if (!data)
        return {};
    image.rgba.assign(data, data + static_cast<std::size_t>(image.w) * static_cast<std::size_t>(image.h) * 4);
    dpf_stbi_image_free(data);
    return image;
}

std::unique_ptr<IGraphics> MakeOffscreenGraphics(IEditorDelegate* delegate, int w, int h, int fps,
                                                 float scale) {
    return std::make_unique<IGraphics>(delegate, w, h, fps, scale, std::make_unique<OffscreenBackend>());
}

namespace {
BackendFactory& DefaultFactory() {
    static BackendFactory factory;
    return factory;
}
} // namespace

void SetDefaultBackendFactory(BackendFactory factory) {
    DefaultFactory() = std::move(factory);
}

std::unique_ptr<IGraphics> MakeGraphics(IEditorDelegate& delegate, int w, int h, int fps, float scale) {
    std::unique_ptr<IRenderBackend> backend =
        DefaultFactory() ? DefaultFactory()() : std::make_unique<OffscreenBackend>();
    return std::make_unique<IGraphics>(&delegate, w, h, fps, scale, std::move(backend));
}

} // namespace iplug::igraphics
