// Where notes lie on the canvas and the drag maths: hit testing with its tie rules, marquee and split
// sets, connectors, marks inside a blob, waveform columns, and each tool's step.

#include "tests/ui/canvas_fixture.h"
#include "ui/canvas_gesture.h"
#include "ui/canvas_notes.h"

#include <tuple>

namespace cv::ui {
namespace {

using cvtest::XOf;
using cvtest::YOf;

const CanvasMapping kFresh{EditorViewportState{}, CanvasRectOf(cvtest::kCanvasControl)};

// A (1) 0..24000 at 60; B (2) and C (3) 12000..36000 at 61, B first in document order.
np::Document Overlapping() {
    return cvtest::CanvasDocument({{0, 24000, 60.0}, {12000, 24000, 61.0}, {12000, 24000, 61.0}});
}

TEST(CanvasNotes, HitTestTakesTheNearestPitchAndTheEarlierNoteOnATie) {
    const np::Document doc = Overlapping();
    const struct {
        double frame, pitch;
        std::uint32_t id;
    } cases[] = {
        {6000, 60.3, 1},  {6000, 60.56, 0}, // 0.55 semitone is the reach
        {18000, 60.5, 1},                   // A and B equally near: A comes first
        {18000, 61.2, 2},                   // B and C tie: B comes first
        {24000, 60.0, 0},                   // A's end is not A, and B is a semitone away
        {12000, 61.0, 2},                   // B's start is B
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frame << " " << c.pitch);
        EXPECT_EQ(HitTest(doc, kFresh, XOf(c.frame), YOf(c.pitch)), c.id);
    }
    np::Document silent = doc;
    silent.audio = nullptr;
    EXPECT_EQ(HitTest(silent, kFresh, XOf(6000), YOf(60)), 0u);
}

TEST(CanvasNotes, MarqueeAndSplitTakeTheirNotes) {
    const np::Document doc = Overlapping();
    const float x = XOf(6000), y = YOf(60);
    EXPECT_TRUE(MarqueeNotes(doc, kFresh, IRECT(x, y - 1, x + 2, y + 1)).empty()); // 2 x 2 selects nothing
    EXPECT_EQ(MarqueeNotes(doc, kFresh, IRECT(x, y - 2, x + 1, y + 2)), std::vector<std::uint32_t>{1});
    EXPECT_EQ(MarqueeNotes(doc, kFresh, IRECT(XOf(18000), YOf(61) - 2, XOf(18000) + 1, YOf(61) + 2)),
              (std::vector<std::uint32_t>{2, 3})); // A lies below
    EXPECT_EQ(MarqueeNotes(doc, kFresh, IRECT(60, YOf(62), 70, YOf(59))), std::vector<std::uint32_t>{1});
    EXPECT_EQ(MarqueeNotes(doc, kFresh, IRECT(60, YOf(62), XOf(12000), YOf(59))),
              (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(NotesAcrossFrame(doc, 12000), std::vector<std::uint32_t>{1}); // strictly inside only
    EXPECT_EQ(NotesAcrossFrame(doc, 18000), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(NotesAcrossFrame(doc, 24000), (std::vector<std::uint32_t>{2, 3}));
}

TEST(CanvasNotes, ConnectorsJoinCloseNeighboursOnOtherRows) {
    // In document order out of time order; 120 bpm at 48 kHz, so 0.55 beats is 13200 frames.
    np::Document doc = cvtest::CanvasDocument({{60000, 12000, 64.0},   // 3rd in time
                                               {0, 24000, 60.0},       // 1st
                                               {24000, 24000, 62.0},   // 2nd: no gap
                                               {85201, 10000, 60.0},   // gap 13201 after the 3rd
                                               {95201, 10000, 60.0}}); // same row
    const std::vector<Connector> c = Connectors(doc, kFresh, 24000.0);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(std::make_tuple(c[0].x0, c[0].y0, c[0].y1), std::make_tuple(XOf(24000), YOf(60), YOf(62)));
    EXPECT_FLOAT_EQ(c[1].x0, XOf(48000)); // 12000 frames (0.5 beats) to the note at 60000
    // An overlap is no gap; a view that starts after the second note hides the curve.
    doc.notes[2].start = 23000;
    EXPECT_EQ(Connectors(doc, kFresh, 24000.0).size(), 1u);
    EXPECT_TRUE(Connectors(doc, {EditorViewportState{256, 70000, 84, 14}, kFresh.canvas}, 24000.0).empty());
}

TEST(CanvasNotes, BlobsKeepTheirMarksInsideAndFollowTheStretch) {
    np::Document doc = cvtest::CanvasDocument({{25600, 100, 60.0}, {51200, 51200, 60.0}});
    EXPECT_FLOAT_EQ(BlobOf(kFresh, doc.notes[0]).x1 - XOf(25600), 3.f); // under a pixel long, drawn 3 wide
    // The second note is stretched to twice its source span; frames 210..213 of its source are sibilant.
    np::Note& n = doc.notes[1];
    n.sourceEnd = n.sourceStart + 25600;
    for (int k = 210; k < 214; ++k)
        doc.track.frames[k].flags = np::PitchFrame::kSibilant;
    const Blob b = BlobOf(kFresh, n);
    std::vector<Span> spans = SibilantSpans(doc, kFresh, n, b);
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_FLOAT_EQ(spans[0].x0, XOf(51200 + 2 * (210 * 256 - 51200)));
    EXPECT_FLOAT_EQ(spans[0].x1 - spans[0].x0, 8.f); // 4 frames of 256, doubled, at 256 per pixel
    doc.track.frames[200].flags = doc.track.frames[201].flags = np::PitchFrame::kSibilant; // from its start
    EXPECT_FLOAT_EQ(SibilantSpans(doc, kFresh, n, b)[0].x0, b.x0 + 1.f); // clipped inside the blob
    const CanvasMapping small{EditorViewportState{256, 0, 84, 4.9f}, kFresh.canvas};
    EXPECT_TRUE(SibilantSpans(doc, small, n, BlobOf(small, n)).empty());

    // The curve (a value per hop of the source) runs at the stretched rate and stops at its first point
    // right of the blob.
    const CurvePoints curve = PitchCurve(doc, kFresh, n, b);
    EXPECT_EQ(curve.xs.size(), 102u);
    EXPECT_FLOAT_EQ(curve.xs[1] - curve.xs[0], 2.f);
    EXPECT_GT(curve.xs.back(), b.x1);
    EXPECT_LE(curve.xs[100], b.x1);
    EXPECT_TRUE(PitchCurve(doc, small, n, b).xs.empty());
    // A point 100 cents above the note's pitch sits a semitone (14 units) above its centre line, scaled
    // by the drift: half as far at 0.5, on the line when flattened.
    n.pitchCurve = std::make_shared<const std::vector<float>>(std::vector<float>{100.f, 100.f});
    for (const auto& [drift, rise] : {std::pair{1.0, 14.f}, {0.5, 7.f}, {0.0, 0.f}}) {
        n.driftScale = drift;
        EXPECT_FLOAT_EQ(b.yc - PitchCurve(doc, kFresh, n, b).ys[0], rise) << drift;
    }
    n.pitched = false;
    EXPECT_TRUE(PitchCurve(doc, kFresh, n, b).xs.empty());
}

TEST(CanvasNotes, WaveformColumnsAreZeroOutsideTheAudio) {
    const np::Document doc = cvtest::CanvasDocument({}, 48000);
    np::PeakCache cache;
    cache.build(*doc.audio);
    // The view starts 40 pixels before the audio, which ends 227.5 pixels in.
    const CanvasMapping m{EditorViewportState{256, -40 * 256.0, 84, 14}, kFresh.canvas};
    const WaveformColumns w = WaveformOf(cache, m);
    ASSERT_EQ(w.upper.size(), 1186u);
    EXPECT_TRUE(w.hasData);
    const float yc = m.canvas.B - 0.09f * m.canvas.H();
    EXPECT_FLOAT_EQ(w.upper[10], yc);
    EXPECT_LT(w.upper[100], yc - 10.f); // the 0.4 tone
    EXPECT_GT(w.lower[100], yc + 10.f);
    EXPECT_FLOAT_EQ(w.upper[300], yc);
    const CanvasMapping past{EditorViewportState{256, 48000, 84, 14}, kFresh.canvas};
    EXPECT_FALSE(WaveformOf(cache, past).hasData);
    EXPECT_FALSE(WaveformOf(np::PeakCache{}, m).hasData);
}

// The steps the mouse tests do not reach: the tools' first-drag choice off the Main tool, halves and
// negative drags, and the drift's clamps.
TEST(CanvasGesture, EachToolsStep) {
    const Tool tools[] = {Tool::Pitch, Tool::Formant, Tool::Amp, Tool::Time, Tool::Mod};
    const GestureMode modes[] = {GestureMode::Pitch, GestureMode::Formant, GestureMode::Gain,
                                 GestureMode::Time, GestureMode::Drift};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ModeForFirstDrag(tools[i], 10, 0), modes[i]);
    EXPECT_EQ(ModeForFirstDrag(Tool::Main, 5, 5), GestureMode::Pitch);
    for (const auto& [accumulated, target] : {std::pair{1.5, 2.0}, {-1.5, -2.0}, {2.5, 3.0}, {-0.49, 0.0}})
        EXPECT_EQ(PitchDragTarget(accumulated, false), target) << accumulated;
    EXPECT_EQ(TimeDragFrames(-0.7f, 256.0), -179); // truncated towards zero
    EXPECT_EQ(DriftDragValue(240.f, 1.0), 2.0);
    EXPECT_EQ(DriftDragValue(-240.f, 1.0), 0.0);
}

} // namespace
} // namespace cv::ui
