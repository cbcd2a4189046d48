#pragma once

// The OpenGL declarations NanoVG's GL3 renderer and the backends call, from the vendor-neutral dispatch
// library, so the same code runs on an EGL (offscreen) and a GLX (window) context.

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/gl.h>
#include <GL/glext.h>
