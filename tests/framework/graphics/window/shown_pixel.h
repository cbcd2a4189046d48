#pragma once

// What a window shows, read from the X server: the GL front buffer cannot be read back here, and what
// the user sees is the window's own pixels, not the framebuffer the frames were drawn into.

#include "framework/graphics/icolor.h"

struct GLFWwindow;

namespace iplug::igraphics {

// The pixel at (x, y) in window pixels, opaque; transparent black when the server gives no image.
IColor ShownPixel(GLFWwindow* window, int x, int y);

} // namespace iplug::igraphics
