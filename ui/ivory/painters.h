#pragma once

// The widget kit's painters: free functions of the graphics context, a rectangle (design units) and a
// few values, keeping no state and allocating nothing that outlives the call. Every control of the editor
// draws through them. Main thread, during a control's Draw.
//
// Radius is a corner radius; "inset d" moves every edge in by d, "outset d" out by d. Text is drawn in the
// fonts the layout loads (palette.h); a font that is not loaded draws nothing.

#include "framework/graphics/icontrol.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ivory {

using iplug::igraphics::IBitmap;
using iplug::igraphics::IControl;
using iplug::igraphics::IGraphics;
using iplug::igraphics::IRECT;

// A raised button face: soft shadow, fill, top highlight, bottom shade and edge.
void DrawButtonFace(IGraphics& g, const IRECT& r, float radius);
// The hover wash and outline and the press shade over a face, from the hover and press amounts (each
// clamped to 0..1); the outline is accent-tinted with accent set. Nothing for a disabled control.
void HoverPress(IGraphics& g, const IControl& control, const IRECT& r, float radius, float hover, float press,
                bool accent);
// A recess: dark gradient with inner shadows, a bottom highlight and an outline.
void DrawWell(IGraphics& g, const IRECT& r, float radius);
// A raised panel; variant 0, 1 or 2 lifts it further (wider shadow; variant 2 a lighter top).
void DrawSoftPanel(IGraphics& g, const IRECT& r, float radius, int variant);
// The dropdown pill: a well with the label and the value, the value boxed in a chip when boxed is set.
void DrawPill(IGraphics& g, const IRECT& r, const char* label, const char* value, bool boxed);
// A segmented choice: a well split into equal segments, the selected one raised. No labels: the well only.
void DrawSeg(IGraphics& g, const IRECT& r, std::span<const std::string> labels, int selected);
// The tab rectangles inside r inset 4: each tab its label's width (semibold 17) plus 22, the last to the
// right edge less 4.
std::vector<IRECT> ContentTabRects(const IGraphics& g, const IRECT& r, std::span<const std::string> labels);
// The tabs: a well, the selected tab raised, hover and press washes on the hovered and pressed tabs
// (-1 for none). rects: the tab rectangles, or null for equal segments of r inset 4.
struct TabsState {
    int selected = 0;
    int hovered = -1;
    float hoverAmount = 0.f;
    int pressed = -1;
    float pressAmount = 0.f;
};
void DrawTabs(IGraphics& g, const IRECT& r, std::span<const std::string> labels, const TabsState& state,
              const std::vector<IRECT>* rects = nullptr);
// The LCD screen. Lit: text in the seven-segment face over a ghost of 8s, each decimal point in a cell of
// its own, shrunk to stay 12 units clear of each side. Unlit: the secondary text (null for none) at the left
// and text at the right, or text alone.
void DrawScreen(IGraphics& g, const IRECT& r, const char* text, const char* secondary, float radius,
                bool lit);
// The horizontal volume slider: track, accent fill up to value (0..1) and the thumb, which grows with
// hover and shrinks with press (each 0..1).
void DrawVol(IGraphics& g, const IRECT& r, float value, float hover, float press);
// The product icon (or, without one, a drawn tile) and the word "Corvalinth".
void DrawWordmark(IGraphics& g, const IRECT& r, const IBitmap& brandIcon);

// An inspector parameter cell: a charcoal knob with the label and the value text beside it.
struct ParamCell {
    const char* label = "";
    const char* value = "";
    float fill = 0.f;   // 0..1 of the knob's sweep
    float anchor = 0.f; // where the value arc starts, 0..1
    bool active = true;
    bool compact = false;
    bool accent = false;
};
void DrawParamCell(IGraphics& g, const IRECT& r, const ParamCell& cell);
// A knob over a 270-degree sweep (-135 to +135 degrees, 0 straight up) in the square r.
void DrawCharcoalKnob(IGraphics& g, const IRECT& r, float fill, float anchor);

// ---- Geometry the painters and controls share, computed without drawing.

// The knob square of a parameter cell (L, T, R, B): side d = 0.8 x height, not more than 0.46 x width
// unless compact, at most 58 and at least 1, centred on (L + 2 + d/2, middle).
IRECT KnobSquare(const IRECT& cell, bool compact);
// The knob's body radius for a knob square of side d.
inline float KnobRadius(float side) {
    return 0.382f * side;
}
// The screen's font size: 20, or 20 x (width - 24) / textWidthAt20 when the text measured at 20 is wider
// than the rectangle less 24; never below 1, so a rectangle narrower than 24 still draws a legible size.
float ScreenFontSize(float textWidthAt20, float rectWidth);
// The ghost behind lit screen text: every digit replaced by 8, at most 63 characters.
std::string GhostDigits(std::string_view text);
// An angle of the knob sweep in degrees (0 up, clockwise) for a fraction 0..1.
inline float KnobAngle(float fraction) {
    return -135.f + 270.f * fraction;
}

} // namespace ivory
