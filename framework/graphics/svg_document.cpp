#include "framework/graphics/svg.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>

namespace iplug::igraphics {
namespace {

struct Tag {
    std::string name; // empty for text, comments and declarations
    bool closing = false;
    bool selfClosing = false;
    std::map<std::string, std::string, std::less<>> attributes;
};

// Reads the next tag at or after pos; false at the end of the text.
bool NextTag(std::string_view text, std::size_t& pos, Tag& tag) {
    tag = {};
    pos = text.find('<', pos);
    if (pos == std::string_view::npos)
        return false;
    if (text.substr(pos, 4) == "<!--") {
        const std::size_t end = text.find("-->", pos);
        pos = end == std::string_view::npos ? text.size() : end + 3;
        return true;
    }
    std::size_t p = pos + 1;
    if (p < text.size() && (text[p] == '?' || text[p] == '!')) {
        const std::size_t end = text.find('>', p);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        return true;
    }
    if (p < text.size() && text[p] == '/') {
        tag.closing = true;
        ++p;
    }
    auto isName = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == ':' || c == '_';
    };
    const std::size_t nameStart = p;
    while (p < text.size() && isName(text[p]))
        ++p;
    tag.name = std::string(text.substr(nameStart, p - nameStart));
    while (p < text.size() && text[p] != '>') {
        if (text[p] == '/') {
            tag.selfClosing = true;
            ++p;
            continue;
        }
        if (!isName(text[p])) {
            ++p;
            continue;
        }
        const std::size_t keyStart = p;
        while (p < text.size() && isName(text[p]))
            ++p;
        std::string key(text.substr(keyStart, p - keyStart));
        while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p])))
            ++p;
        if (p < text.size() && text[p] == '=') {
            ++p;
            while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p])))
                ++p;
            if (p < text.size() && (text[p] == '"' || text[p] == '\'')) {
                const char quote = text[p++];
                const std::size_t end = text.find(quote, p);
                if (end == std::string_view::npos)
                    throw std::invalid_argument("The SVG text ends inside an attribute value.");
                tag.attributes[key] = std::string(text.substr(p, end - p));
                p = end + 1;
            }
        }
    }
    pos = p < text.size() ? p + 1 : text.size();
    return true;
}

std::vector<float> Numbers(std::string_view s) {
    std::vector<float> out;
    std::string copy(s);
    const char* c = copy.c_str();
    char* end = nullptr;
    while (*c) {
        if (std::isspace(static_cast<unsigned char>(*c)) || *c == ',') {
            ++c;
            continue;
        }
        const float v = std::strtof(c, &end);
        if (end == c)
            break;
        out.push_back(v);
        c = end;
    }
    return out;
}

struct Paint {
    bool none = false;
    bool currentColor = true;
    IColor color = COLOR_BLACK;
};

std::optional<Paint> ParsePaint(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    if (s == "none")
        return Paint{true, false, {}};
    if (s == "currentColor")
        return Paint{};
    if (s == "black")
        return Paint{false, false, COLOR_BLACK};
    if (s == "white")
        return Paint{false, false, COLOR_WHITE};
    if (!s.empty() && s.front() == '#') {
        const std::string hex(s.substr(1));
        const unsigned long v = std::strtoul(hex.c_str(), nullptr, 16);
        if (hex.size() == 6)
            return Paint{false, false, IColor(255, int(v >> 16 & 255), int(v >> 8 & 255), int(v & 255))};
        if (hex.size() == 3)
            return Paint{false, false,
                         IColor(255, int((v >> 8 & 15) * 17), int((v >> 4 & 15) * 17), int((v & 15) * 17))};
    }
    return std::nullopt; // unknown paints inherit
}

struct Style {
    Paint paint;
    EFillRule rule = EFillRule::Winding;
};

Style Apply(Style s, const Tag& tag) {
    if (auto it = tag.attributes.find("fill"); it != tag.attributes.end()) {
        if (auto p = ParsePaint(it->second))
            s.paint = *p;
    }
    if (auto it = tag.attributes.find("fill-rule"); it != tag.attributes.end())
        s.rule = it->second == "evenodd" ? EFillRule::EvenOdd : EFillRule::Winding;
    return s;
}

} // namespace

SVGDocument ParseSvgDocument(std::string_view text) {
    constexpr std::size_t kMaxTextBytes = 1u << 20;
    constexpr std::size_t kMaxCommands = 100000;
    if (text.size() > kMaxTextBytes)
        throw std::invalid_argument("The SVG text is larger than 1 MiB; icons are far smaller.");
    SVGDocument doc;
    std::size_t commands = 0;
    std::vector<Style> styles;
    bool haveRoot = false;
    std::size_t pos = 0;
    Tag tag;
    while (NextTag(text, pos, tag)) {
        if (tag.name.empty())
            continue;
        if (tag.closing) {
            if ((tag.name == "g" || tag.name == "svg") && !styles.empty())
                styles.pop_back();
            continue;
        }
        if (tag.name == "svg" && !haveRoot) {
            haveRoot = true;
            std::vector<float> vb;
            if (auto it = tag.attributes.find("viewBox"); it != tag.attributes.end())
                vb = Numbers(it->second);
            if (vb.size() != 4) {
                const auto w = tag.attributes.find("width");
                const auto h = tag.attributes.find("height");
                if (w != tag.attributes.end() && h != tag.attributes.end())
                    vb = {0.f, 0.f, std::strtof(w->second.c_str(), nullptr),
                          std::strtof(h->second.c_str(), nullptr)};
            }
            if (vb.size() != 4 || !(vb[2] > 0.f) || !(vb[3] > 0.f))
                throw std::invalid_argument("The SVG root has no usable viewBox or width and height.");
            doc.viewX = vb[0];
            doc.viewY = vb[1];
            doc.viewW = vb[2];
            doc.viewH = vb[3];
            styles.push_back(Apply(Style{}, tag));
            if (tag.selfClosing)
                styles.pop_back();
            continue;
        }
        if (!haveRoot)
            continue;
        const Style inherited = styles.empty() ? Style{} : styles.back();
        if (tag.name == "g") {
            if (!tag.selfClosing)
                styles.push_back(Apply(inherited, tag));
            continue;
        }
        if (tag.name != "path")
            continue;
        const Style style = Apply(inherited, tag);
        const auto d = tag.attributes.find("d");
        if (style.paint.none || d == tag.attributes.end())
            continue;
        SVGShape shape;
        std::string error;
        if (!ParseSvgPathData(d->second, shape.path, &error))
            throw std::invalid_argument("The SVG path data is malformed: " + error + ".");
        commands += shape.path.Commands().size();
        if (commands > kMaxCommands)
            throw std::invalid_argument("The SVG has more than 100000 path commands; icons have far fewer.");
        shape.fillCurrentColor = style.paint.currentColor;
        shape.fill = style.paint.color;
        // Icons are a few hundred units wide; a hundredth of a unit is far below any drawn pixel.
        const std::vector<Polyline> lines =
            shape.path.Flatten(0.01f * std::max(doc.viewW, doc.viewH) / 100.f);
        const std::vector<ESubpathFill> fills = ClassifySubpaths(lines, style.rule);
        shape.subpathFill.assign(static_cast<std::size_t>(shape.path.SubpathCount()), ESubpathFill::Skip);
        for (std::size_t i = 0; i < lines.size(); ++i)
            shape.subpathFill[static_cast<std::size_t>(lines[i].subpath)] = fills[i];
        doc.shapes.push_back(std::move(shape));
    }
    if (!haveRoot)
        throw std::invalid_argument("The text is not an SVG document: it has no <svg> element.");
    return doc;
}

} // namespace iplug::igraphics
