#pragma once

// The one rule for the file a save lands at, shared by whoever judges a destination before the save (the
// desktop's save prompt and its guard) and whoever writes it (the plug-in's exports), so that the file the
// guard judged is the file that gets written.

#include <filesystem>
#include <string_view>

namespace iplug::igraphics {

// The file a save of chosen lands at when its caller adds extension (without the dot, as a file prompt's
// request carries it) to a path without it: "a.WAV" stays (case is ignored, in ASCII letters only), "a"
// becomes "a.wav", "a.mp3" becomes "a.mp3.wav", "a." becomes "a..wav". Paths are taken as their bytes
// (UTF-8 here); an empty extension leaves the path as it is. Any thread.
std::filesystem::path SaveDestination(const std::filesystem::path& chosen, std::string_view extension);

} // namespace iplug::igraphics
