#pragma once

// The editor's commands: `corvalinth open FILE` opens the editor in a window over the stand-in host playing
// FILE as the track; `corvalinth screenshot FILE OUT.png [--scale S]` renders the same editor offscreen.

#include <optional>
#include <string>
#include <vector>

namespace cv::cli {

struct EditorCommand {
    enum class Kind { Open, Screenshot };
    Kind kind = Kind::Open;
    std::string file;
    std::string out;    // screenshot: the PNG file
    double scale = 1.0; // screenshot: the drawing scale, 0.7..1.5
};

struct ParsedEditorArgs {
    std::optional<EditorCommand> command; // empty when the arguments were refused
    std::string error;                    // one line for the user when refused
};

// Whether the arguments name one of the editor's commands.
bool isEditorCommand(const std::vector<std::string>& args);
// Parses the arguments after the program name.
ParsedEditorArgs parseEditorArgs(const std::vector<std::string>& args);

inline constexpr const char* kEditorUsage = "       corvalinth open FILE\n"
                                            "       corvalinth screenshot FILE OUT.png [--scale S]";

} // namespace cv::cli
