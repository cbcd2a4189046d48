#pragma once

// Where the inspector's parts lie and what the pointer finds there: the face the canvas's tool chooses,
// the six measured cell widths with their fallbacks, the gap between the note face's parts, the
// rectangles of both faces, the interaction ids, tooltips and cursors. Pure functions of the control's
// rectangle and the widths, so the control (inspector_view.h) and the tests share them. Main thread.

#include "framework/graphics/input.h"
#include "framework/graphics/irect.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

namespace cv::ui {

using iplug::igraphics::IRECT;

// With the Time tool the inspector shows the time-quantize block, with any other tool the note face.
enum class InspectorFace { Note, Time };
InspectorFace FaceForTool(std::uint32_t tool);

// What InteractionAt finds; kNone for nothing. Pitch..Gain count only with a selected note.
enum InspectorId : int {
    kIdNone = -1,
    kIdPitch = 0, // note face: value cells, dragged with a gesture
    kIdDrift = 1,
    kIdFormant = 2,
    kIdGain = 3,
    kIdAmount = 4,    // correction amount knob
    kIdFlatten = 5,   // correction flatten knob
    kIdUnison = 6,    // unison button
    kIdCorrect = 7,   // "Correct pitch" button
    kIdGridFirst = 8, // time face: grid segments "1/4", "1/8", "1/16" (8, 9, 10)
    kIdStrength = 11, // quantize strength knob
    kIdApply = 12,    // "Apply" button
};

// The cells in their order: Pitch, Drift, Formant, Gain, Amount, Flatten.
inline constexpr int kCellCount = 6;
using CellWidths = std::array<float, kCellCount>;
inline constexpr std::array<const char*, kCellCount> kCellLabels{"Pitch", "Drift",  "Formant",
                                                                 "Gain",  "Amount", "Flatten"};
// The widest value each cell shows.
inline constexpr std::array<const char*, kCellCount> kCellWidestValues{"+0.0 st", "100%", "+0.0 st",
                                                                       "+0.0 dB", "100%", "100%"};
inline constexpr float kCellLabelSize = 17.f; // semibold
inline constexpr float kCellValueSize = 15.f; // monospaced

// A text's width when measuring gave 1 unit or less (no font): 0.54 x size per byte.
float FallbackTextWidth(float size, std::string_view text);
// Width of text in a face (true for the semibold label face, false for the monospaced value face).
using CellTextMeasure = std::function<float(bool labelFace, float size, const char* text)>;
// Each cell: max(label width, widest value width) + 58, each width from measure or, at 1 unit or less,
// the fallback. An empty measure (no graphics context) uses the fallback throughout: 114.7, 103.9,
// 122.26, 114.7, 113.08, 122.26.
CellWidths MeasureCellWidths(const CellTextMeasure& measure);

// The note face's gap: clamp((width - 350 - sum of the widths) / 10.1, 8, 36).
float InspectorGap(float width, const CellWidths& widths);

// The note face inside the control rectangle: cells from T+16 to B-16, buttons 44 high on the middle.
struct NoteFaceLayout {
    IRECT heading;                       // from L+16, 134 wide
    std::array<IRECT, kCellCount> cells; // Pitch, Drift, Formant, Gain from the left; Amount, Flatten
    IRECT correct;                       // "Correct pitch", 128 wide
    IRECT unison;                        // 54 wide, ending at R-16
    IRECT dividers[2];                   // 1 wide: before Amount, between "Correct pitch" and unison
    float gap = 0.f;
};
NoteFaceLayout LayoutNoteFace(const IRECT& control, const CellWidths& widths);

// The time face inside the control rectangle inset 22.
struct TimeFaceLayout {
    IRECT label;    // "Tempo", at the left
    IRECT tempo;    // the Tempo parameter's display, 110 x 36, 54 in
    IRECT grid;     // three segments, 168 x 40, 24 after the display
    IRECT strength; // knob area, 150 wide, full height, 24 after the grid
    IRECT apply;    // "Apply", 160 x 44 at the right edge
    // Segment i of the grid (0 "1/4", 1 "1/8", 2 "1/16").
    IRECT Segment(int i) const;
};
TimeFaceLayout LayoutTimeFace(const IRECT& control);

// The id under (x, y) on a face; the value cells count only with a selected note.
int InteractionAt(InspectorFace face, const NoteFaceLayout& note, const TimeFaceLayout& time,
                  bool hasSelectedNote, float x, float y);
// The tooltip over (x, y) on a face given the id there, or an empty text for none. The Tempo display
// has one, though pressing it does nothing.
std::string_view TooltipAt(InspectorFace face, const TimeFaceLayout& time, int id, float x, float y);
// Up-down resize over the cells and knobs, the pointing hand over buttons and segments, else the arrow.
iplug::igraphics::ECursor CursorFor(int id);

} // namespace cv::ui
