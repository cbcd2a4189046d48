// The inspector's geometry without drawing: measured cell widths and their fallbacks, the gap, both
// faces' rectangles in the editor's inspector (14, 698, 1266, 794), the cursors and the Tempo display's
// tooltip.

#include "ui/inspector_layout.h"

#include <gtest/gtest.h>
#include <string>

namespace cv::ui {
namespace {

using iplug::igraphics::ECursor;

constexpr IRECT kInspector{14.f, 698.f, 1266.f, 794.f};

void ExpectRect(const IRECT& r, float l, float t, float rr, float b) {
    EXPECT_NEAR(r.L, l, 1e-3f);
    EXPECT_NEAR(r.T, t, 1e-3f);
    EXPECT_NEAR(r.R, rr, 1e-3f);
    EXPECT_NEAR(r.B, b, 1e-3f);
}

TEST(InspectorLayout, CellWidthsGapAndTheNoteFaceFromBothEnds) {
    const CellWidths w = MeasureCellWidths({});
    const float expected[] = {114.7f, 103.9f, 122.26f, 114.7f, 113.08f, 122.26f};
    for (int i = 0; i < kCellCount; ++i)
        EXPECT_NEAR(w[i], expected[i], 1e-3f) << kCellLabels[i];
    // Labels measure 30 and values 70, except "100%", which measures 1 (no glyphs) and falls back alone.
    const CellWidths measured = MeasureCellWidths([](bool label, float, const char* text) {
        return std::string(text) == "100%" ? 1.f : label ? 30.f : 70.f;
    });
    EXPECT_FLOAT_EQ(measured[0], 128.f);           // max(30, 70) + 58
    EXPECT_NEAR(measured[1], 32.4f + 58.f, 1e-3f); // max(30, 0.54 x 15 x 4) + 58

    const float g = (1252.f - 350.f - 690.9f) / 10.1f;
    EXPECT_NEAR(InspectorGap(1252.f, w), g, 1e-3f);
    EXPECT_EQ(InspectorGap(900.f, w), 8.f);
    EXPECT_EQ(InspectorGap(2000.f, w), 36.f);

    const NoteFaceLayout l = LayoutNoteFace(kInspector, w);
    ExpectRect(l.heading, 30.f, 714.f, 164.f, 778.f);
    ExpectRect(l.cells[0], 164.f + 1.5f * g, 714.f, 164.f + 1.5f * g + 114.7f, 778.f);
    ExpectRect(l.unison, 1196.f, 724.f, 1250.f, 768.f);
    ExpectRect(l.dividers[1], 1196.f - 0.9f * g - 1.f, 714.f, 1196.f - 0.9f * g, 778.f);
    ExpectRect(l.correct, l.dividers[1].L - 0.9f * g - 128.f, 724.f, l.dividers[1].L - 0.9f * g, 768.f);
    // Both runs meet with the formula's last 0.9 g between the Gain cell and the first divider.
    EXPECT_NEAR(l.dividers[0].L - l.cells[3].R, 0.9f * g, 1e-2f);
}

TEST(InspectorLayout, TimeFaceInsetTwentyTwo) {
    const TimeFaceLayout l = LayoutTimeFace(kInspector);
    ExpectRect(l.tempo, 90.f, 728.f, 200.f, 764.f);
    ExpectRect(l.grid, 224.f, 726.f, 392.f, 766.f);
    ExpectRect(l.Segment(2), 336.f, 726.f, 392.f, 766.f);
    ExpectRect(l.strength, 416.f, 720.f, 566.f, 772.f);
    ExpectRect(l.apply, 1084.f, 724.f, 1244.f, 768.f);
}

// Which id each part has is checked by pressing it (inspector_view_test.cpp); here what only hovering shows.
TEST(InspectorLayout, CursorsAndTheTempoDisplaysTooltip) {
    EXPECT_EQ(CursorFor(kIdPitch), ECursor::SIZENS);
    EXPECT_EQ(CursorFor(kIdFlatten), ECursor::SIZENS);
    EXPECT_EQ(CursorFor(kIdStrength), ECursor::SIZENS);
    EXPECT_EQ(CursorFor(kIdUnison), ECursor::HAND);
    EXPECT_EQ(CursorFor(kIdGridFirst), ECursor::HAND);
    EXPECT_EQ(CursorFor(kIdNone), ECursor::ARROW);

    const NoteFaceLayout note = LayoutNoteFace(kInspector, MeasureCellWidths({}));
    const TimeFaceLayout time = LayoutTimeFace(kInspector);
    const float x = time.tempo.MW(), y = time.tempo.MH();
    EXPECT_EQ(InteractionAt(InspectorFace::Time, note, time, true, x, y), kIdNone);
    EXPECT_EQ(TooltipAt(InspectorFace::Time, time, kIdNone, x, y),
              "Project tempo for the bar grid and time quantize.");
    EXPECT_TRUE(TooltipAt(InspectorFace::Note, time, kIdNone, x, y).empty());
    EXPECT_EQ(InteractionAt(InspectorFace::Note, note, time, false, note.unison.MW(), note.unison.MH()),
              kIdUnison);
}

} // namespace
} // namespace cv::ui
