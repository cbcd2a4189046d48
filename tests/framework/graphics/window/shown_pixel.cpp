#include "tests/framework/graphics/window/shown_pixel.h"

// Xlib's macros (None, Status, Bool) would collide with the test framework's names: it stays in this file.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

// GLFW's own X11 accessors; its native header would also want the XRandR headers, which nothing else needs.
extern "C" Display* glfwGetX11Display(void);
extern "C" Window glfwGetX11Window(GLFWwindow* window);

namespace iplug::igraphics {

IColor ShownPixel(GLFWwindow* window, int x, int y) {
    XImage* image = XGetImage(glfwGetX11Display(), glfwGetX11Window(window), x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr)
        return {};
    const unsigned long p = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return IColor(255, static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
                  static_cast<int>(p & 0xFF));
}

} // namespace iplug::igraphics
