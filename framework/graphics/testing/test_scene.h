#pragma once

// The test scene: an editor-like 1280 x 816 window (gradient body, raised panels with drop shadows,
// buttons, icons, knobs with multi-stop gradients, a note canvas with grid, waveform, notes and curves,
// dashed outlines, text in the six faces, a tiled grain bitmap) that the rendering tests probe and the
// frame benchmark draws.

#include "framework/graphics/igraphics.h"

#include <filesystem>
#include <string>
#include <vector>

namespace iplug::igraphics {

inline constexpr int kSceneWidth = 1280;
inline constexpr int kSceneHeight = 816;

// The six fonts (identifier, file) and the thirteen icon names the editor uses (files "<name>.svg").
struct SceneFont {
    const char* id;
    const char* file;
};
const std::vector<SceneFont>& EditorFonts();
const std::vector<std::string>& EditorIcons();

// Where fetched resources live: CV_RESOURCES_DIR, or the environment's CV_RESOURCES_DIR when set.
std::filesystem::path ResourcesDir();

// Loads the fonts (from fonts/) and icons (from icons/) under resources and attaches the scene's
// controls. Throws std::runtime_error naming the first missing resource.
void BuildTestScene(IGraphics& g, const std::filesystem::path& resources);

// A point where the scene has one exact colour, with nothing antialiased or blended near it.
struct SceneProbe {
    std::string what;
    float x = 0.f;
    float y = 0.f;
    IColor color;
};
std::vector<SceneProbe> TestSceneProbes();

} // namespace iplug::igraphics
