// IGraphics text: drawing and measuring strings in the loaded fonts.

#include "framework/graphics/igraphics.h"
#include "framework/graphics/nvg_util.h"

#include <algorithm>
#include <limits>
#include <string>
#include <string_view>

namespace iplug::igraphics {
namespace {

int NvgAlign(const IText& t) {
    const int h = t.mAlign == EAlign::Near ? NVG_ALIGN_LEFT
                                           : (t.mAlign == EAlign::Far ? NVG_ALIGN_RIGHT : NVG_ALIGN_CENTER);
    const int v = t.mVAlign == EVAlign::Top
                      ? NVG_ALIGN_TOP
                      : (t.mVAlign == EVAlign::Bottom ? NVG_ALIGN_BOTTOM : NVG_ALIGN_MIDDLE);
    return h | v;
}

// Where DrawText anchors a string inside bounds.
void Anchor(const IText& t, const IRECT& b, float& x, float& y) {
    x = t.mAlign == EAlign::Near ? b.L : (t.mAlign == EAlign::Far ? b.R : b.MW());
    y = t.mVAlign == EVAlign::Top ? b.T : (t.mVAlign == EVAlign::Bottom ? b.B : b.MH());
}

// DrawText's layout of a string with line breaks: whether its lines stack one line height apart in a
// box boxH high (they all fit), else it is one line with each break drawn as a space.
bool StacksLines(std::string_view all, float lineHeight, float boxH) {
    const auto count = static_cast<float>(std::count(all.begin(), all.end(), '\n') + 1);
    return count * lineHeight <= boxH;
}

// Calls line(start, end, y) for each line of a stack anchored at y: the block keeps the text's vertical
// alignment, so the anchor is the first line's for the top, the last line's for the bottom and the
// block's middle otherwise.
template <class Line>
void ForEachStackedLine(std::string_view all, const IText& t, float y, float lineHeight, Line line) {
    const auto below = static_cast<float>(std::count(all.begin(), all.end(), '\n'));
    float lineY = t.mVAlign == EVAlign::Top      ? y
                  : t.mVAlign == EVAlign::Bottom ? y - below * lineHeight
                                                 : y - 0.5f * below * lineHeight;
    std::size_t start = 0;
    while (start <= all.size()) {
        const std::size_t end = std::min(all.find('\n', start), all.size());
        line(start, end, lineY);
        lineY += lineHeight;
        start = end + 1;
    }
}

std::string JoinedLines(std::string_view all) {
    std::string joined(all);
    std::replace(joined.begin(), joined.end(), '\n', ' ');
    return joined;
}

// The advance width of all as DrawText lays it out from the anchor (x, y) in a box boxH high (the widest
// line's, for stacked lines); b receives the rectangle it occupies: the lines' glyph extents across, their
// line heights down (an empty line takes its height and no width).
float MeasureLaidOut(NVGcontext* vg, const IText& t, std::string_view all, float x, float y, float boxH,
                     float b[4]) {
    if (all.find('\n') == std::string_view::npos)
        return nvgTextBounds(vg, x, y, all.data(), all.data() + all.size(), b);
    float lineHeight = 0.f;
    nvgTextMetrics(vg, nullptr, nullptr, &lineHeight);
    if (!StacksLines(all, lineHeight, boxH)) {
        const std::string joined = JoinedLines(all);
        return nvgTextBounds(vg, x, y, joined.c_str(), nullptr, b);
    }
    float width = 0.f;
    bool inked = false;
    b[0] = b[2] = x;
    b[1] = std::numeric_limits<float>::max();
    b[3] = std::numeric_limits<float>::lowest();
    ForEachStackedLine(all, t, y, lineHeight, [&](std::size_t start, std::size_t end, float lineY) {
        float line[4] = {};
        const float advance = nvgTextBounds(vg, x, lineY, all.data() + start, all.data() + end, line);
        b[1] = std::min(b[1], line[1]);
        b[3] = std::max(b[3], line[3]);
        if (end == start)
            return;
        b[0] = inked ? std::min(b[0], line[0]) : line[0];
        b[2] = inked ? std::max(b[2], line[2]) : line[2];
        inked = true;
        width = std::max(width, advance);
    });
    return width;
}

} // namespace

void IGraphics::DrawText(const IText& text, const char* str, const IRECT& bounds, const IBlend* blend) {
    const int font = FontHandle(text.mFont);
    if (!mInFrame || !str || !*str || font < 0)
        return;
    detail::BlendScope scope(mVG, mAlphaStack.back(), blend);
    float x = 0.f, y = 0.f;
    Anchor(text, bounds, x, y);
    nvgFontFaceId(mVG, font);
    nvgFontSize(mVG, text.mSize);
    nvgTextAlign(mVG, NvgAlign(text));
    nvgFillColor(mVG, detail::ToNVG(text.mFGColor));
    const std::string_view all(str);
    if (all.find('\n') == std::string_view::npos) {
        nvgText(mVG, x, y, str, nullptr);
        return;
    }
    // NanoVG has no line breaks of its own: it would draw '\n' as the font's missing-glyph box.
    float lineHeight = 0.f;
    nvgTextMetrics(mVG, nullptr, nullptr, &lineHeight);
    if (!StacksLines(all, lineHeight, bounds.H())) {
        const std::string joined = JoinedLines(all);
        nvgText(mVG, x, y, joined.c_str(), nullptr);
        return;
    }
    ForEachStackedLine(all, text, y, lineHeight, [&](std::size_t start, std::size_t end, float lineY) {
        if (end > start)
            nvgText(mVG, x, lineY, str + start, str + end);
    });
}

float IGraphics::MeasureIn(const IText& text, const char* str, IRECT& bounds, float boxH) const {
    const int font = FontHandle(text.mFont);
    if (!str || !*str || font < 0) {
        bounds = {bounds.L, bounds.T, bounds.L, bounds.T};
        return 0.f;
    }
    // NanoVG rounds glyph advances to whole device pixels, so measure at the scale the text is drawn at.
    nvgSave(mVG);
    nvgResetTransform(mVG);
    const float s = DeviceScale();
    nvgScale(mVG, s, s);
    nvgFontFaceId(mVG, font);
    nvgFontSize(mVG, text.mSize);
    nvgTextAlign(mVG, NvgAlign(text));
    float x = 0.f, y = 0.f;
    Anchor(text, bounds, x, y);
    float b[4] = {};
    const float width = MeasureLaidOut(mVG, text, str, x, y, boxH, b);
    nvgRestore(mVG);
    bounds = {b[0], b[1], b[2], b[3]};
    return width;
}

float IGraphics::MeasureText(const IText& text, const char* str, IRECT& bounds) const {
    return MeasureIn(text, str, bounds, bounds.H());
}

float IGraphics::MeasureTextWidth(const IText& text, const char* str) const {
    IRECT r;
    return MeasureIn(text, str, r, std::numeric_limits<float>::infinity());
}

} // namespace iplug::igraphics
