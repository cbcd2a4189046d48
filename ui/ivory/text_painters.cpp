// Painters that lay text over the surfaces: the dropdown pill, segmented choices, tabs and the LCD screen.

#include "ui/ivory/painter_util.h"
#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace ivory {

using namespace iplug::igraphics;

void DrawPill(IGraphics& g, const IRECT& r, const char* label, const char* value, bool boxed) {
    DrawWell(g, r, 9.f);
    const IText labelStyle = Font(kFontSemiBold, 16.f, kFaint, EAlign::Near);
    const float labelW = g.MeasureTextWidth(labelStyle, label);
    const float labelR = r.L + 12.f + labelW;
    g.DrawText(labelStyle, label, IRECT(r.L + 12.f, r.T, labelR, r.B));
    if (!boxed) {
        g.DrawText(Font(kFontSemiBold, 18.f, kInk, EAlign::Near), value,
                   IRECT(labelR + 9.f, r.T, r.R - 12.f, r.B));
        return;
    }
    const IText chipStyle = Font(kFontBold, 18.f, kInk);
    const float chipW = std::max(g.MeasureTextWidth(chipStyle, value) + 16.f, 26.f);
    const IRECT chip(labelR + 9.f, r.MH() - 11.f, labelR + 9.f + chipW, r.MH() + 11.f);
    DrawButtonFace(g, chip, 6.f);
    g.DrawText(chipStyle, value, chip);
}

void DrawSeg(IGraphics& g, const IRECT& r, std::span<const std::string> labels, int selected) {
    DrawWell(g, r, 10.f);
    const int count = static_cast<int>(labels.size());
    const IRECT inner = r.GetPadded(-4.f);
    for (int i = 0; i < count; ++i) {
        const IRECT seg = inner.SubRectHorizontal(count, i);
        const char* text = labels[static_cast<std::size_t>(i)].c_str();
        if (i == selected) {
            DrawSoftPanel(g, IRECT(seg.L, seg.T + 1.5f, seg.R, seg.B - 1.5f), 6.f, 0);
            g.DrawText(Font(kFontSemiBold, 18.f, kInk), text, seg);
        } else {
            g.DrawText(Font(kFontMedium, 18.f, kDim), text, seg);
        }
    }
}

std::vector<IRECT> ContentTabRects(const IGraphics& g, const IRECT& r, std::span<const std::string> labels) {
    std::vector<IRECT> rects;
    rects.reserve(labels.size());
    const IText style = Font(kFontSemiBold, 17.f, kInk, EAlign::Near);
    float x = r.L + 4.f;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const bool last = i + 1 == labels.size();
        const float right = last ? r.R - 4.f : x + g.MeasureTextWidth(style, labels[i].c_str()) + 22.f;
        rects.emplace_back(x, r.T + 4.f, right, r.B - 4.f);
        x = right;
    }
    return rects;
}

void DrawTabs(IGraphics& g, const IRECT& r, std::span<const std::string> labels, const TabsState& state,
              const std::vector<IRECT>* rects) {
    DrawWell(g, r, 11.f);
    const int count = static_cast<int>(labels.size());
    const IRECT inner = r.GetPadded(-4.f);
    for (int i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const IRECT tab = rects && at < rects->size() ? (*rects)[at] : inner.SubRectHorizontal(count, i);
        const char* text = labels[at].c_str();
        if (i == state.selected) {
            DrawSoftPanel(g, tab, 8.f, 0);
            g.DrawText(Font(kFontSemiBold, 17.f, kInk), text, tab);
        } else {
            g.DrawText(Font(kFontMedium, 17.f, kDim), text, tab);
        }
        const float h = std::clamp(state.hoverAmount, 0.f, 1.f);
        if (i == state.hovered && h > 0.f) {
            g.FillRoundRect(Alpha(COLOR_WHITE, 5.f * h), tab.GetPadded(-1.f), 7.f);
            const IColor outline =
                i == state.selected ? Alpha(kAccentHi, 20.f * h) : Alpha(kHoverOutline, 12.f * h);
            g.DrawRoundRect(outline, tab.GetPadded(-1.f), 7.f);
        }
        const float p = std::clamp(state.pressAmount, 0.f, 1.f);
        if (i == state.pressed && p > 0.f)
            g.FillRoundRect(Alpha(COLOR_BLACK, 40.f * p), tab.GetPadded(-1.f), 7.f);
    }
}

float ScreenFontSize(float textWidthAt20, float rectWidth) {
    const float room = rectWidth - 24.f;
    if (!(textWidthAt20 > 0.f) || textWidthAt20 <= room)
        return 20.f;
    return std::max(1.f, 20.f * room / textWidthAt20);
}

std::string GhostDigits(std::string_view text) {
    std::string ghost(text.substr(0, 63));
    for (char& c : ghost) {
        if (std::isdigit(static_cast<unsigned char>(c)))
            c = '8';
    }
    return ghost;
}

namespace {

// The seven-segment face draws '.' with no advance, centred on the boundary between two digits in a gap
// of a fifth of a digit: at small sizes it rounds into the neighbouring strokes and the point is lost.
// Each point gets a cell of its own instead, its width (0.124 em) plus the room a digit leaves on each
// side (0.099 em), so that it stands as clear of the digits as they do of each other.
constexpr float kPointCellEm = 0.124f + 2.f * 0.099f;

std::vector<std::string> RunsBetweenPoints(std::string_view text) {
    std::vector<std::string> runs(1);
    for (char c : text) {
        if (c == '.')
            runs.emplace_back();
        else
            runs.back() += c;
    }
    return runs;
}

float LitTextWidth(const IGraphics& g, const IText& style, const std::vector<std::string>& runs) {
    float width = kPointCellEm * style.mSize * static_cast<float>(runs.size() - 1);
    for (const std::string& run : runs)
        width += g.MeasureTextWidth(style, run.c_str());
    return width;
}

// The text centred in r, each point in its cell.
void DrawLitText(IGraphics& g, const IText& style, std::string_view text, const IRECT& r) {
    const std::vector<std::string> runs = RunsBetweenPoints(text);
    const IText run = style.WithAlign(EAlign::Near);
    const float cell = kPointCellEm * style.mSize;
    float x = r.MW() - 0.5f * LitTextWidth(g, run, runs);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (i > 0) {
            g.DrawText(style.WithAlign(EAlign::Center), ".", IRECT(x, r.T, x + cell, r.B));
            x += cell;
        }
        g.DrawText(run, runs[i].c_str(), IRECT(x, r.T, r.R, r.B));
        x += g.MeasureTextWidth(run, runs[i].c_str());
    }
}

} // namespace

void DrawScreen(IGraphics& g, const IRECT& r, const char* text, const char* secondary, float radius,
                bool lit) {
    FillRoundVertical(g, r, radius, r.T, kScr1, r.B, kScr2);
    FillRoundVertical(g, r, radius, r.T, IColor(150, 0, 0, 0), r.T + 4.f, IColor(0, 0, 0, 0));
    FillRoundVertical(g, r, radius, r.B - 1.5f, kHi.WithAlpha(0), r.B, kHi);
    g.DrawRoundRect(kEdge, r, radius);
    text = text ? text : "";
    if (lit) {
        const float size =
            ScreenFontSize(LitTextWidth(g, Font(kFontScreen, 20.f, kLed), RunsBetweenPoints(text)), r.W());
        const IText style = Font(kFontScreen, size, kLed);
        DrawLitText(g, style.WithFGColor(kLed.WithAlpha(30)), GhostDigits(text), r);
        DrawLitText(g, style.WithFGColor(kLed.WithAlpha(70)), text, r.GetVShifted(0.4f));
        DrawLitText(g, style, text, r);
        return;
    }
    const IRECT inset = r.GetHPadded(-12.f);
    if (secondary) {
        g.DrawText(Font(kFontMedium, 19.f, kScrIn, EAlign::Near), secondary, inset);
        g.DrawText(Font(kFontRegular, 18.f, kScreenSecondary, EAlign::Far), text, inset);
    } else {
        g.DrawText(Font(kFontMedium, 19.f, kScrIn), text, r);
    }
}

} // namespace ivory
