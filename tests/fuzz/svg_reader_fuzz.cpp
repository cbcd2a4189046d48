// Fuzzes the SVG icon reader: any text either parses into shapes whose sub-path roles match their
// sub-paths, or is refused with std::invalid_argument; nothing crashes, hangs or runs away with memory.

#include "framework/graphics/svg.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const iplug::igraphics::SVGDocument doc = iplug::igraphics::ParseSvgDocument(text);
        for (const auto& shape : doc.shapes) {
            if (shape.subpathFill.size() != static_cast<std::size_t>(shape.path.SubpathCount()))
                std::abort();
        }
    } catch (const std::invalid_argument&) {
    }
    iplug::igraphics::Path path;
    iplug::igraphics::ParseSvgPathData(text, path);
    return 0;
}
