#pragma once

// SVG icons: our own reader for the small subset icons use (the root's viewBox and fill, <g> and <path>
// elements with fill and fill-rule) and a parser for SVG path data.

#include "framework/graphics/icolor.h"
#include "framework/graphics/path.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace iplug::igraphics {

// Parses SVG path data (commands M L H V C S Q T A Z, absolute and relative, with implicit repeats and
// compact numbers such as "1-15.29" or ".5.5") into path, replacing its contents. On malformed data the
// path holds what came before the fault and error says where; returns whether all of it was read.
bool ParseSvgPathData(std::string_view d, Path& path, std::string* error = nullptr);

// One filled shape of an icon.
struct SVGShape {
    Path path;
    std::vector<ESubpathFill> subpathFill; // per sub-path of path: solid, hole or left out
    bool fillCurrentColor = true;          // drawn in the tint given at draw time
    IColor fill = COLOR_BLACK;             // when not currentColor
};

// A parsed icon in its own units, mapped by DrawSVG from its viewBox to a target rectangle.
struct SVGDocument {
    float viewX = 0.f;
    float viewY = 0.f;
    float viewW = 0.f;
    float viewH = 0.f;
    std::vector<SVGShape> shapes;
};

// Parses an SVG text; throws std::invalid_argument with a sentence naming the fault when the text has no
// <svg> root, no usable viewBox (or width and height) or malformed path data, or is larger than icons are
// (more than 1 MiB of text or 100000 path commands), which is checked before it is parsed further.
SVGDocument ParseSvgDocument(std::string_view text);

// A loaded icon: a shared, immutable parse, cheap to copy. Invalid when default-made.
class ISVG {
public:
    ISVG() = default;
    explicit ISVG(std::shared_ptr<const SVGDocument> doc) : mDoc(std::move(doc)) {}
    bool IsValid() const { return mDoc != nullptr; }
    const SVGDocument* Document() const { return mDoc.get(); }
    float W() const { return mDoc ? mDoc->viewW : 0.f; }
    float H() const { return mDoc ? mDoc->viewH : 0.f; }

private:
    std::shared_ptr<const SVGDocument> mDoc;
};

} // namespace iplug::igraphics
