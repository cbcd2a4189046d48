#include "framework/graphics/save_destination.h"

#include <algorithm>
#include <string>

namespace iplug::igraphics {
namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool Blank(std::string_view text) {
    return text.find_first_not_of(" \t") == std::string_view::npos;
}

bool IsFolder(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

// The last component of path, its trailing separators ignored ("/a/b/" gives "b"); the path itself when
// it has none (the root).
std::string LastName(const std::filesystem::path& path) {
    std::string text = path.native();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    const std::size_t slash = text.find_last_of('/');
    return slash == std::string::npos || text.size() == 1 ? text : text.substr(slash + 1);
}

} // namespace

std::filesystem::path SaveDestination(const std::filesystem::path& chosen, std::string_view extension) {
    const std::string dotted = "." + std::string(extension);
    if (extension.empty() || SameIgnoringAsciiCase(chosen.extension().native(), dotted))
        return chosen;
    std::filesystem::path destination = chosen;
    destination += dotted;
    return destination;
}

std::string SaveDestinationRefusal(const std::filesystem::path& chosen, std::string_view extension) {
    const std::string& text = chosen.native();
    if (text.empty())
        return {};
    const bool endsInSeparator = text.back() == '/';
    if (Blank(text) || (!endsInSeparator && Blank(chosen.filename().native())))
        return "Name a file to save.";
    if (IsFolder(chosen))
        return LastName(chosen) + " is a folder; name a file inside it.";
    if (endsInSeparator)
        return LastName(chosen) + "/ names a folder, not a file; add a file name after it.";
    const std::filesystem::path destination = SaveDestination(chosen, extension);
    if (IsFolder(destination))
        return LastName(destination) + " is a folder; name a file inside it.";
    return {};
}

} // namespace iplug::igraphics
