// The canvas's view rules as pure functions: ranges, restore, fit, zoom, wheel, beat steps, grid rows.

#include "tests/ui/canvas_fixture.h"
#include "ui/canvas_view.h"

#include <cmath>
#include <limits>
#include <tuple>

namespace cv::ui {
namespace {

const IRECT kGrid = CanvasRectOf(cvtest::kCanvasControl);

TEST(CanvasView, AFreshCanvasAndTheRestoreRules) {
    const EditorViewportState fresh = EditorView(cvtest::kCanvasControl).ViewportState();
    EXPECT_EQ(std::make_tuple(fresh.framesPerPixel, fresh.viewStartFrame, fresh.topMidi, fresh.pxPerSemitone),
              std::make_tuple(256.0, 0.0, 84.0, 14.f));
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    for (const EditorViewportState& refused :
         {EditorViewportState{nan, 0, 84, 14}, EditorViewportState{256, inf, 84, 14},
          EditorViewportState{256, 0, -inf, 14}, EditorViewportState{256, 0, 84, float(nan)}})
        EXPECT_FALSE(ClampedViewport(refused));
    const struct {
        EditorViewportState in, out;
    } cases[] = {
        {{4, 0, 84, 14}, {8, 0, 84, 14}},
        {{1e6, -1e12, 200, 99}, {65536, -40 * 65536.0, 140, 40}},
        {{8, -1e9, 1, 1}, {8, -320, 12, 3}},
    };
    for (const auto& c : cases) {
        const EditorViewportState got = ClampedViewport(c.in).value();
        EXPECT_EQ(
            std::make_tuple(got.framesPerPixel, got.viewStartFrame, got.topMidi, got.pxPerSemitone),
            std::make_tuple(c.out.framesPerPixel, c.out.viewStartFrame, c.out.topMidi, c.out.pxPerSemitone));
    }
}

TEST(CanvasView, FitShowsTheDocumentWithinTheViewsRanges) {
    np::Document doc = cvtest::CanvasDocument({{0, 48000, 62.0}, {96000, 48000, 62.0}});
    EXPECT_FALSE(FitView(cvtest::CanvasDocument({}), kGrid.W(), kGrid.H()));
    auto v = FitView(doc, kGrid.W(), kGrid.H());
    EXPECT_DOUBLE_EQ(v->framesPerPixel, 960000.0 / 1186.0); // the audio is longer than the notes
    EXPECT_FLOAT_EQ(v->pxPerSemitone, 28.f);                // min(28, 536 / 12)
    EXPECT_EQ(v->topMidi, 66.0);

    // A note moved past the audio's end and raised: the fit follows the note and its offset.
    doc.notes[1].start = 48000 * 40;
    doc.notes[1].pitchOffset = 24.0;
    v = FitView(doc, kGrid.W(), kGrid.H());
    EXPECT_DOUBLE_EQ(v->framesPerPixel, (48000.0 * 41) / 1186.0);
    EXPECT_FLOAT_EQ(v->pxPerSemitone, static_cast<float>(536.0 / 32.0));
    EXPECT_EQ(v->topMidi, 90.0);

    // A document longer than 65536 frames per pixel shows, or a pitch above 136, stays in the ranges,
    // so the next zoom-out does not zoom in.
    doc.notes[1].start = 48000LL * 1800;
    doc.notes[1].pitch = 130.0;
    v = FitView(doc, kGrid.W(), kGrid.H());
    EXPECT_EQ(v->framesPerPixel, kMaxFramesPerPixel);
    EXPECT_EQ(v->topMidi, kMaxTopMidi);
    EditorViewportState out = *v;
    ZoomTimeAboutCentre(out, 1.3, kGrid.W());
    EXPECT_GE(out.framesPerPixel, v->framesPerPixel);
}

TEST(CanvasView, ZoomAndWheelKeepWhatIsUnderTheirAnchor) {
    // Time zoom about the centre (the wheel's zoom about the pointer goes through the router in
    // editor_view_mouse_test.cpp), then its ranges.
    EditorViewportState v;
    const double centre = CanvasMapping{v, kGrid}.XToTime(kGrid.MW());
    ZoomTimeAboutCentre(v, 1.0 / 1.3, kGrid.W());
    EXPECT_NEAR((CanvasMapping{v, kGrid}.XToTime(kGrid.MW())), centre, 1e-6);
    for (int i = 0; i < 60; ++i)
        ZoomTimeAboutCentre(v, 1.3, kGrid.W());
    EXPECT_EQ(v.framesPerPixel, kMaxFramesPerPixel);
    EXPECT_EQ(v.viewStartFrame, -40 * kMaxFramesPerPixel);

    EXPECT_EQ(WheelActionFor(true, true, true), WheelAction::ZoomTime);
    EXPECT_EQ(WheelActionFor(false, true, true), WheelAction::ZoomPitch);
    EXPECT_EQ(WheelActionFor(false, false, true), WheelAction::PanTime);
    EditorViewportState w{256, 48000, 84, 14};
    const double pitchUnder = CanvasMapping{w, kGrid}.YToMidi(kGrid.T + 200);
    ApplyWheel(w, WheelAction::ZoomPitch, 300, 200, 1.f);
    EXPECT_FLOAT_EQ(w.pxPerSemitone, 14.f * 1.15f);
    EXPECT_NEAR((CanvasMapping{w, kGrid}.YToMidi(kGrid.T + 200)), pitchUnder, 1e-5);
    ApplyWheel(w, WheelAction::PanTime, 300, 200, 1.f);
    EXPECT_DOUBLE_EQ(w.viewStartFrame, 48000 - 48 * 256);
    // A long pan stops 40 pixels before the start, a long scroll at 140.
    ApplyWheel(w, WheelAction::PanTime, 300, 200, 1000.f);
    EXPECT_DOUBLE_EQ(w.viewStartFrame, -40 * w.framesPerPixel);
    ApplyWheel(w, WheelAction::ScrollPitch, 300, 200, 1000.f);
    EXPECT_EQ(w.topMidi, kMaxTopMidi);
}

TEST(CanvasView, BeatStepsStayBetween4And512BeatsAndMarkTheCanvas) {
    const struct {
        double pxPerBeat, minPixels;
        int step;
    } steps[] = {{100.0, 26.0, 4}, {6.5, 26.0, 4},    {6.49, 26.0, 8},  {7.5, 30.0, 4},
                 {7.49, 30.0, 8},  {0.06, 26.0, 512}, {1e-6, 26.0, 512}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.pxPerBeat);
        EXPECT_EQ(BeatStep(s.pxPerBeat, s.minPixels), s.step);
    }
    // 120 bpm at 48 kHz: 93.75 pixels a beat at 256 frames a pixel, a line every 4 beats from the step at
    // or before the view's start; lines left of the canvas are skipped.
    EXPECT_EQ(FramesPerBeat(48000.0, 120.0), 24000.0);
    EXPECT_EQ(BeatMarks({EditorViewportState{}, kGrid}, 24000.0, 26.0).size(), 4u);
    const std::vector<BeatMark> marks =
        BeatMarks({EditorViewportState{256, 240000, 84, 14}, kGrid}, 24000.0, 26.0);
    EXPECT_EQ(marks[0].beat, 12.0);
    EXPECT_FLOAT_EQ(marks[0].x, 66.f + 48000.f / 256.f);
    EXPECT_TRUE(BeatMarks({EditorViewportState{}, kGrid}, 0.0, 26.0).empty());
}

TEST(CanvasView, TheRulerCountsBarsFromOneAndTheGridWeighsEverySixteenthBeat) {
    // At 48 kHz. The grid's step needs 26 units and the ruler's 30: at 7 units a beat the grid draws
    // every 4 beats and the ruler every 8.
    const struct {
        const char* what;
        double framesPerPixel, start, tempo;
        std::vector<long> bars;   // the first four ticks' numbers
        float firstTickX;         // of the first tick
        std::size_t ticks, lines; // how many of each
        std::vector<bool> majors; // the first eight grid lines' weights
    } cases[] = {
        {"fresh view at 120 bpm", 256, 0, 120, {1, 2, 3, 4}, 66.f, 4, 4, {true, false, false, false}},
        {"scrolled to beat 10", 256, 240000, 120, {4, 5, 6}, 253.5f, 3, 3, {false, true, false}},
        {"ruler at twice the grid's step",
         24000.0 / 7.0,
         0,
         120,
         {1, 3, 5, 7},
         66.f,
         22,
         43,
         {true, false, false, false, true, false, false, false}},
        {"90 bpm zoomed far out", 65536, 0, 90, {1, 17, 33, 49}, 66.f, 38, 38, {true, true, true, true}},
        {"300 bpm zoomed far in at beat 96", 8, 9600.0 * 96, 300, {25}, 66.f, 1, 1, {true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CanvasMapping m{EditorViewportState{c.framesPerPixel, c.start, 84, 14}, kGrid};
        const double framesPerBeat = FramesPerBeat(48000.0, c.tempo);
        const std::vector<BarTick> ticks = BarTicks(m, framesPerBeat);
        ASSERT_EQ(ticks.size(), c.ticks);
        for (std::size_t i = 0; i < c.bars.size(); ++i)
            EXPECT_EQ(ticks[i].bar, c.bars[i]) << "tick " << i;
        EXPECT_FLOAT_EQ(ticks[0].x, c.firstTickX);
        const std::vector<GridLine> lines = GridLines(m, framesPerBeat);
        ASSERT_EQ(lines.size(), c.lines);
        for (std::size_t i = 0; i < c.majors.size(); ++i)
            EXPECT_EQ(lines[i].major, c.majors[i]) << "line " << i;
    }
    EXPECT_TRUE(BarTicks({EditorViewportState{}, kGrid}, 0.0).empty());
}

TEST(CanvasView, ScaleRowsAndOctaveLinesFollowTheKeyAndTheA4Offset) {
    const CanvasMapping m{EditorViewportState{}, kGrid};
    EXPECT_TRUE(ScaleRows(m, np::KeyScale{0, 0}, 0.0).empty());
    // C major at 440: the row of C4 spans 467..481, a root row; C#4 has none.
    const std::vector<ScaleRow> rows = ScaleRows(m, np::KeyScale{0, 1}, 0.0);
    auto rowAt = [&](const std::vector<ScaleRow>& rs, float y) -> const ScaleRow* {
        for (const ScaleRow& r : rs)
            if (r.top <= y && y < r.bottom)
                return &r;
        return nullptr;
    };
    ASSERT_NE(rowAt(rows, 474.f), nullptr);
    EXPECT_FLOAT_EQ(rowAt(rows, 474.f)->top, 467.f);
    EXPECT_TRUE(rowAt(rows, 474.f)->root);
    EXPECT_EQ(rowAt(rows, 460.f), nullptr);    // C#4
    EXPECT_FALSE(rowAt(rows, 446.f)->root);    // D4
    EXPECT_FLOAT_EQ(rows.back().top, kGrid.T); // C6's row, 131..145, clipped to the canvas
    EXPECT_FLOAT_EQ(rows.back().bottom, 145.f);

    // 432 Hz lowers the rows and the octave lines by 12 log2(432/440) semitones.
    const double t = np::tuningOffsetSemitones(432.0);
    const std::vector<ScaleRow> low = ScaleRows(m, np::KeyScale{0, 1}, t);
    EXPECT_NEAR(rowAt(low, 474.f + 4.45f)->top, 467.f - 14.0 * t, 1e-3);
    const std::vector<OctaveLine> lines = OctaveLines(m, t);
    ASSERT_EQ(lines.size(), 4u); // C3, C4, C5 and C6 between pitch 45.7 and 84
    EXPECT_NEAR(lines[1].y, 474.f - 14.0 * t, 1e-3);
    EXPECT_TRUE(lines[1].middleC);
    EXPECT_FALSE(lines[0].middleC);

    // The keyboard names every C from 6 units a semitone.
    EXPECT_EQ(KeyName(m, 60), "C4");
    EXPECT_EQ(KeyName(m, 72), "C5");
    EXPECT_EQ(KeyName(m, 61), std::nullopt);
    EXPECT_EQ(KeyName({EditorViewportState{256, 0, 84, 6.f}, kGrid}, 48), "C3");
    EXPECT_EQ(KeyName({EditorViewportState{256, 0, 84, 5.9f}, kGrid}, 48), std::nullopt);
}

} // namespace
} // namespace cv::ui
