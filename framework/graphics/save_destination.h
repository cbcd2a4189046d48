#pragma once

// The one rule for the file a save lands at, shared by whoever judges a destination before the save (the
// desktop's save prompt and its guard) and whoever writes it (the plug-in's exports), so that the file the
// guard judged is the file that gets written; and the rule for a chosen path that names no file at all.

#include <filesystem>
#include <string>
#include <string_view>

namespace iplug::igraphics {

// The file a save of chosen lands at when its caller adds extension (without the dot, as a file prompt's
// request carries it) to a path without it: "a.WAV" stays (case is ignored, in ASCII letters only), "a"
// becomes "a.wav", "a.mp3" becomes "a.mp3.wav", "a." becomes "a..wav". Paths are taken as their bytes
// (UTF-8 here); an empty extension leaves the path as it is. Any thread.
std::filesystem::path SaveDestination(const std::filesystem::path& chosen, std::string_view extension);

// Why a save of chosen names no file to write, as a sentence to show the user, or "" when it names one: a
// blank name ("Name a file to save."), an existing folder, as chosen or once the extension is added ("adir
// is a folder; name a file inside it."), and a path ending in a separator ("adir/ names a folder, not a
// file; add a file name after it."). Without this a blank name becomes the file "   .wav", a folder's
// path the file beside it, and a trailing separator the hidden file ".wav" inside it. An empty path is
// no refusal: the prompts take it for a cancel. Reads whether a folder exists; any thread.
std::string SaveDestinationRefusal(const std::filesystem::path& chosen, std::string_view extension);

} // namespace iplug::igraphics
