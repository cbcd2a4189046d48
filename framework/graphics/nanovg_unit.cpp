// NanoVG and its GL3 renderer, built from Debian's dpf-source at its installed path. The C sources are
// compiled here as C++ inside extern "C"; STBTT_STATIC keeps the bundled stb_truetype private to this unit,
// so it cannot clash with another copy of it in the program.

#include "framework/graphics/nanovg_gl_api.h"

extern "C" {
#define STBTT_STATIC
#include "nanovg.c"
}

#define NANOVG_GL3_IMPLEMENTATION
#include "nanovg_gl.h"
