#pragma once

// The kit's thirteen icons: Phosphor bold (version 2.1.1) single-path SVGs with the viewBox "0 0 256 256"
// and fill "currentColor", embedded in the program when it is built from the fetched icon files. An icon
// is parsed once per graphics context and cached there under its resource name.

#include "framework/graphics/icontrol.h"

#include <string_view>

namespace ivory {

enum class EPhosphorIcon : int {
    Split = 0,
    Merge = 1,
    Unison = 2,
    Undo = 3,
    Redo = 4,
    Help = 5,
    Settings = 6,
    SkipBack = 7,
    Play = 8,
    Stop = 9,
    ZoomOut = 10,
    ZoomIn = 11,
    Fit = 12,
};
inline constexpr int kNumIcons = 13;

// The embedded SVG texts (generated at build time from resources/icons).
extern const std::string_view kPhSplit;
extern const std::string_view kPhMerge;
extern const std::string_view kPhUnison;
extern const std::string_view kPhUndo;
extern const std::string_view kPhRedo;
extern const std::string_view kPhHelp;
extern const std::string_view kPhSettings;
extern const std::string_view kPhSkipBack;
extern const std::string_view kPhPlay;
extern const std::string_view kPhStop;
extern const std::string_view kPhZoomOut;
extern const std::string_view kPhZoomIn;
extern const std::string_view kPhFit;

// The icon a value names; a value outside 0..12 names the help icon.
EPhosphorIcon IconOrHelp(int value);
// The resource name, e.g. "phosphor-split-bold-2.1.1", and the SVG text of an icon (out of range: help).
const char* IconResourceName(EPhosphorIcon icon);
std::string_view IconSvg(EPhosphorIcon icon);

// The icon parsed in g (cached by its resource name there); invalid when its text does not parse.
iplug::igraphics::ISVG LoadIcon(iplug::igraphics::IGraphics& g, EPhosphorIcon icon);
// Draws the icon in a size x size square centred in r, its current colour replaced by tint.
void DrawIcon(iplug::igraphics::IGraphics& g, EPhosphorIcon icon, const iplug::igraphics::IRECT& r,
              float size, const iplug::igraphics::IColor& tint);

} // namespace ivory
