#pragma once

// How the plug-in hosts its editor: a fixed 1280 x 816 design drawn at a scale between 0.7 and 1.5, the
// make-graphics hook (60 frames a second), and the layout the program that links the editor registers.
// Main thread.

#include "framework/graphics/igraphics.h"
#include "plugin/editor_controls.h"

#include <functional>
#include <memory>

class Corvalinth;

namespace cv {

inline constexpr int kEditorWidth = 1280;
inline constexpr int kEditorHeight = 816;
inline constexpr int kEditorFps = 60;
inline constexpr double kMinEditorScale = 0.7;
inline constexpr double kMaxEditorScale = 1.5;

// Builds the editor's controls in a fresh graphics context for the plug-in and returns the view through
// which the plug-in reaches them (valid while the context lives).
using EditorLayoutFunc =
    std::function<std::unique_ptr<EditorControls>(Corvalinth& plugin, iplug::igraphics::IGraphics& g)>;

// Registers the layout every plug-in object's editor uses from now on (once per process, before any
// editor opens; the editor library does this). Without one an editor opens empty.
void SetEditorLayout(EditorLayoutFunc layout);
const EditorLayoutFunc& GetEditorLayout();

// The drawing scale for a window of w x h points: min(w / 1280, h / 816) when both are at least 1, else
// 0.7, clamped to 0.7..1.5.
double EditorScaleFor(double w, double h);
// The window size of the design at that scale, lround(1280 x scale) x lround(816 x scale).
struct EditorSize {
    int w = 0;
    int h = 0;
    bool operator==(const EditorSize&) const = default;
};
EditorSize EditorSizeAtScale(double scale);

} // namespace cv
