// IGraphics text: drawing and measuring strings in the loaded fonts.

#include "framework/graphics/igraphics.h"
#include "framework/graphics/nvg_util.h"

#include <algorithm>
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
    const auto count = static_cast<float>(std::count(all.begin(), all.end(), '\n') + 1);
    if (count * lineHeight > bounds.H()) {
        std::string joined(all);
        std::replace(joined.begin(), joined.end(), '\n', ' ');
        nvgText(mVG, x, y, joined.c_str(), nullptr);
        return;
    }
    // Each line keeps the block's vertical alignment: the anchor is the first line's for the top, the
    // last line's for the bottom and the block's middle otherwise.
    const float below = count - 1.f;
    float lineY = text.mVAlign == EVAlign::Top      ? y
                  : text.mVAlign == EVAlign::Bottom ? y - below * lineHeight
                                                    : y - 0.5f * below * lineHeight;
    std::size_t start = 0;
    while (start <= all.size()) {
        const std::size_t end = std::min(all.find('\n', start), all.size());
        if (end > start)
            nvgText(mVG, x, lineY, str + start, str + end);
        lineY += lineHeight;
        start = end + 1;
    }
}

float IGraphics::MeasureText(const IText& text, const char* str, IRECT& bounds) const {
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
    const float width = nvgTextBounds(mVG, x, y, str, nullptr, b);
    nvgRestore(mVG);
    bounds = {b[0], b[1], b[2], b[3]};
    return width;
}

float IGraphics::MeasureTextWidth(const IText& text, const char* str) const {
    IRECT r;
    return MeasureText(text, str, r);
}

} // namespace iplug::igraphics
