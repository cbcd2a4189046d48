#include "framework/graphics/offscreen.h"

#include "framework/graphics/nanovg_gl_api.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
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
    Framebuffer framebuffer;
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
    mImpl->framebuffer.Release();
    eglMakeCurrent(mImpl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(mImpl->display, mImpl->context);
}

void OffscreenBackend::MakeCurrent() {
    if (eglGetCurrentContext() != mImpl->context)
        eglMakeCurrent(mImpl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, mImpl->context);
}

bool OffscreenBackend::PrepareFrame(int pixelW, int pixelH) {
    return mImpl->framebuffer.Ensure(pixelW, pixelH);
}

void OffscreenBackend::BeginFrame(const PixelRect& region) {
    mImpl->framebuffer.BeginRegion(region);
}

void OffscreenBackend::Finish() {
    MakeCurrent();
    glFinish();
}

RGBAImage OffscreenBackend::ReadPixels() {
    MakeCurrent();
    return mImpl->framebuffer.Read();
}

bool WritePNG(const RGBAImage& image, const std::filesystem::path& path) {
    if (image.w <= 0 || image.h <= 0)
        return false;
    return stbi_write_png(path.string().c_str(), image.w, image.h, 4, image.rgba.data(), image.w * 4) != 0;
}

std::vector<std::uint8_t> EncodePNG(const RGBAImage& image) {
    std::vector<std::uint8_t> png;
    if (image.w <= 0 || image.h <= 0)
        return png;
    const auto append = [](void* context, void* data, int size) {
        auto& out = *static_cast<std::vector<std::uint8_t>*>(context);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        out.insert(out.end(), bytes, bytes + size);
    };
    stbi_write_png_to_func(append, &png, image.w, image.h, 4, image.rgba.data(), image.w * 4);
    return png;
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
