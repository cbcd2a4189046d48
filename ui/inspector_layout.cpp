#include "ui/inspector_layout.h"

#include <algorithm>
#include <numeric>

namespace cv::ui {

using iplug::igraphics::ECursor;

namespace {

constexpr std::uint32_t kTimeTool = 4;
constexpr float kEdge = 16.f; // the note face's margin inside the control
constexpr float kHeadingWidth = 134.f;
constexpr float kButtonHeight = 44.f;
constexpr float kCorrectWidth = 128.f;
constexpr float kUnisonWidth = 54.f;
constexpr float kFixedWidth = 166.f + 184.f; // margins, heading, buttons and dividers
constexpr float kCellPadding = 58.f;         // the knob and the space around the texts
constexpr float kTimeInset = 22.f;

} // namespace

InspectorFace FaceForTool(std::uint32_t tool) {
    return tool == kTimeTool ? InspectorFace::Time : InspectorFace::Note;
}

float FallbackTextWidth(float size, std::string_view text) {
    return 0.54f * size * static_cast<float>(text.size());
}

CellWidths MeasureCellWidths(const CellTextMeasure& measure) {
    auto width = [&](bool labelFace, float size, const char* text) {
        const float w = measure ? measure(labelFace, size, text) : 0.f;
        return w > 1.f ? w : FallbackTextWidth(size, text);
    };
    CellWidths widths{};
    for (int i = 0; i < kCellCount; ++i)
        widths[i] = std::max(width(true, kCellLabelSize, kCellLabels[i]),
                             width(false, kCellValueSize, kCellWidestValues[i])) +
                    kCellPadding;
    return widths;
}

float InspectorGap(float width, const CellWidths& widths) {
    const float cells = std::accumulate(widths.begin(), widths.end(), 0.f);
    return std::clamp((width - kFixedWidth - cells) / 10.1f, 8.f, 36.f);
}

NoteFaceLayout LayoutNoteFace(const IRECT& r, const CellWidths& w) {
    NoteFaceLayout l;
    const float g = l.gap = InspectorGap(r.W(), w);
    const float top = r.T + kEdge, bottom = r.B - kEdge;
    const float cy = (r.T + r.B) / 2.f;
    const float bTop = cy - kButtonHeight / 2.f, bBottom = cy + kButtonHeight / 2.f;

    l.heading = IRECT(r.L + kEdge, top, r.L + kEdge + kHeadingWidth, bottom);
    float x = l.heading.R + 1.5f * g;
    for (int i = 0; i < 4; ++i) {
        l.cells[i] = IRECT(x, top, x + w[i], bottom);
        x = l.cells[i].R + g;
    }

    x = r.R - kEdge;
    l.unison = IRECT(x - kUnisonWidth, bTop, x, bBottom);
    x = l.unison.L - 0.9f * g;
    l.dividers[1] = IRECT(x - 1.f, top, x, bottom);
    x = l.dividers[1].L - 0.9f * g;
    l.correct = IRECT(x - kCorrectWidth, bTop, x, bBottom);
    x = l.correct.L - g;
    l.cells[5] = IRECT(x - w[5], top, x, bottom);
    x = l.cells[5].L - g;
    l.cells[4] = IRECT(x - w[4], top, x, bottom);
    x = l.cells[4].L - 0.9f * g;
    l.dividers[0] = IRECT(x - 1.f, top, x, bottom);
    return l;
}

IRECT TimeFaceLayout::Segment(int i) const {
    return grid.SubRectHorizontal(3, std::clamp(i, 0, 2));
}

TimeFaceLayout LayoutTimeFace(const IRECT& control) {
    const IRECT r = control.GetPadded(-kTimeInset);
    const float cy = (r.T + r.B) / 2.f;
    TimeFaceLayout l;
    l.label = IRECT(r.L, r.T, r.L + 54.f, r.B);
    l.tempo = IRECT(l.label.R, cy - 18.f, l.label.R + 110.f, cy + 18.f);
    l.grid = IRECT(l.tempo.R + 24.f, cy - 20.f, l.tempo.R + 24.f + 168.f, cy + 20.f);
    l.strength = IRECT(l.grid.R + 24.f, r.T, l.grid.R + 24.f + 150.f, r.B);
    l.apply = IRECT(r.R - 160.f, cy - 22.f, r.R, cy + 22.f);
    return l;
}

int InteractionAt(InspectorFace face, const NoteFaceLayout& note, const TimeFaceLayout& time,
                  bool hasSelectedNote, float x, float y) {
    if (face == InspectorFace::Time) {
        if (time.apply.Contains(x, y))
            return kIdApply;
        for (int i = 0; i < 3; ++i)
            if (time.Segment(i).Contains(x, y))
                return kIdGridFirst + i;
        return time.strength.Contains(x, y) ? kIdStrength : kIdNone;
    }
    if (note.unison.Contains(x, y))
        return kIdUnison;
    if (note.correct.Contains(x, y))
        return kIdCorrect;
    for (int i = kIdAmount; i <= kIdFlatten; ++i)
        if (note.cells[i].Contains(x, y))
            return i;
    if (hasSelectedNote)
        for (int i = kIdPitch; i <= kIdGain; ++i)
            if (note.cells[i].Contains(x, y))
                return i;
    return kIdNone;
}

std::string_view TooltipAt(InspectorFace face, const TimeFaceLayout& time, int id, float x, float y) {
    switch (id) {
    case kIdPitch:
        return "Drag vertically to transpose. Hold Alt for fine adjustment.";
    case kIdDrift:
        return "Drag vertically to adjust vibrato.";
    case kIdFormant:
        return "Drag vertically to change tone.";
    case kIdGain:
        return "Drag vertically to adjust gain. Hold Alt for fine adjustment.";
    case kIdAmount:
        return "Drag vertically to set how far Correct Pitch moves notes.";
    case kIdFlatten:
        return "Drag vertically to set how much Correct Pitch flattens vibrato.";
    case kIdUnison:
        return "Move the selected notes to one pitch.";
    case kIdCorrect:
        return "Correct the selected notes, or all notes if none are selected.";
    case kIdGridFirst:
    case kIdGridFirst + 1:
    case kIdGridFirst + 2:
        return "Grid resolution for time quantize.";
    case kIdStrength:
        return "Drag vertically to set how far notes move toward the grid.";
    case kIdApply:
        return "Quantize the selected notes, or all notes if none are selected.";
    default:
        break;
    }
    if (face == InspectorFace::Time && time.tempo.Contains(x, y))
        return "Project tempo for the bar grid and time quantize.";
    return {};
}

ECursor CursorFor(int id) {
    if ((id >= kIdPitch && id <= kIdFlatten) || id == kIdStrength)
        return ECursor::SIZENS;
    return id == kIdNone ? ECursor::ARROW : ECursor::HAND;
}

} // namespace cv::ui
