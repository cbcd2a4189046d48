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

} // namespace

std::filesystem::path SaveDestination(const std::filesystem::path& chosen, std::string_view extension) {
    const std::string dotted = "." + std::string(extension);
    if (extension.empty() || SameIgnoringAsciiCase(chosen.extension().native(), dotted))
        return chosen;
    std::filesystem::path destination = chosen;
    destination += dotted;
    return destination;
}

} // namespace iplug::igraphics
