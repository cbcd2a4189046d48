#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The plug-in's private per-user folder, where its preferences live.
namespace cv {

// Finds the folder and creates it private to the user (mode 0700). On Linux it is
// $XDG_DATA_HOME/Corvalinth, or <home>/.local/share/Corvalinth when XDG_DATA_HOME is unset, empty or
// relative; the home is the HOME variable when it is set and not empty, else the home folder of the
// user's account record. On macOS it is <home>/Library/Application Support/Corvalinth.
// Returns the folder and empties *error; on failure returns an empty path with the sentence in *error
// ("Corvalinth can't find its application data folder." or "Corvalinth can't access its application
// data folder."). Any thread.
std::filesystem::path appDataDir(std::string* error);

namespace detail {

// What the folder is chosen from; each unset when the environment does not give it.
struct AppDataSources {
    std::optional<std::string> homeVariable;
    std::optional<std::string> xdgDataHome;
    std::optional<std::string> accountHome;
};

// The folder the sources name, without touching the file system; empty with *error on failure.
std::filesystem::path appDataDirFrom(const AppDataSources& sources, std::string* error);

} // namespace detail

} // namespace cv
