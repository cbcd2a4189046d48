// The canvas in pixels: a fixed four-note session against its golden image, exact colours of the flat
// surfaces and the selected outline, and the grid rows lowered by an A4 of 432 Hz.

#include "tests/support/golden_image.h"
#include "tests/ui/canvas_fixture.h"
#include "ui/chassis.h"
#include "ui/editor_controls_view.h"
#include "ui/editor_tags.h"
#include "ui/theme/theme.h"

#include <cmath>

namespace cv::ui {
namespace {

using namespace iplug::igraphics;

// Selected (1), muted (2), a sibilant run (3), a vibrato curve (4), joined by connectors; C major, A4 440,
// the playhead at frame 200000 (x 847.25).
np::Document FourNotes() {
    np::Document doc = cvtest::CanvasDocument(
        {{48000, 24000, 60.0}, {84000, 20000, 62.0}, {110000, 30000, 64.0}, {150000, 24000, 65.0}});
    doc.notes[1].muted = true;
    for (int k = 470; k < 490; ++k)
        doc.track.frames[k].flags = np::PitchFrame::kSibilant;
    std::vector<float> vibrato(24000 / 256);
    for (std::size_t i = 0; i < vibrato.size(); ++i)
        vibrato[i] = 40.f * std::sin(0.5f * static_cast<float>(i));
    doc.notes[3].pitchCurve = std::make_shared<const std::vector<float>>(std::move(vibrato));
    return doc;
}

struct SessionImage {
    cvtest::PluginCanvasRig rig{FourNotes()};
    explicit SessionImage(double a4Hz) {
        rig.Session().setKeyScale(np::KeyScale{0, 1});
        rig.Session().setA4Hz(a4Hz);
        rig.driver->Click(300, 474); // selects note 1
        rig.driver->MouseMove(40, 600);
        rig.view->SetPlayheadDocFrame(200000);
        // Without the grain, flat surfaces keep their exact colours.
        for (int i = 0; i < rig.g->NControls(); ++i)
            if (dynamic_cast<GrainOverlay*>(rig.g->GetControl(i)))
                rig.g->GetControl(i)->Hide(true);
    }
    RGBAImage Canvas() { return Parts({cvtest::kCanvasControl}); }
    // The given parts of a frame rendered now, of one width, one below the other.
    RGBAImage Parts(std::initializer_list<IRECT> parts) {
        const RGBAImage frame = rig.driver->Render();
        RGBAImage out;
        out.w = static_cast<int>(parts.begin()->W());
        for (const IRECT& c : parts) {
            out.h += static_cast<int>(c.H());
            for (int y = 0; y < static_cast<int>(c.H()); ++y)
                for (int x = 0; x < out.w; ++x) {
                    const IColor p = frame.At(x + static_cast<int>(c.L), y + static_cast<int>(c.T));
                    out.rgba.insert(out.rgba.end(), {std::uint8_t(p.R), std::uint8_t(p.G), std::uint8_t(p.B),
                                                     std::uint8_t(p.A)});
                }
        }
        return out;
    }
};

TEST(EditorViewImage, AFourNoteSessionMatchesItsGoldenImageAndItsExactColours) {
    SessionImage s(440.0);
    cvtest::ExpectMatchesGolden(s.Canvas(), CV_UI_GOLDEN_DIR, "canvas_session",
                                cvtest::kEditorGoldenFraction);

    cvtest::ExpectPixels(*s.rig.driver,
                         {
                             {"canvas background (C#4, off the scale)", 700, 460, theme::kCanvasBg, 0},
                             {"in-scale row (D4)", 700, 446, theme::kRowInScale, 0},
                             {"ruler below the frame's shade", 1000, 130, theme::kRulerBg, 0},
                             {"selected outline, left edge", 253, 474, theme::kBlobOutlineSel, 40},
                             {"muted note over its shadow and a row", 400, 449, IColor(255, 77, 62, 48), 1},
                         });
}

// What surrounds the canvas during a session: the header with the readouts and an unsaved long file name,
// the tool bar, a cancellable progress notice, and the inspector on a tuned note with the knobs moved.
TEST(EditorViewImage, TheHeaderNoticeAndInspectorAroundASessionMatchTheirGoldenImage) {
    SessionImage s(440.0);
    const std::uint32_t one[] = {1};
    s.rig.Session().addPitchOffset(one, 1.3); // C#4, +30 cents
    s.rig.Session().addGainDb(one, -4.5);
    s.rig.plugin->Macros().correctionAmount = 0.6;
    s.rig.plugin->Macros().vibratoFlattening = 0.25;
    EditorControlsView view(*s.rig.g);
    EditorReadouts r;
    r.playheadDocFrame = 200000;
    r.timeText = "00:04.17";
    r.unsavedMark = true;
    r.documentEmpty = false;
    r.noteCountText = "4 notes \xC2\xB7 1 selected";
    view.ShowReadouts(r);
    view.ShowFileText("lead_vocal_take_with_a_rather_long_name.wav  \xE2\x80\x94  48.0 kHz \xC2\xB7 mono");
    view.ShowProgress("Rendering \xC2\xB7 40%", 0.4f, true);
    s.rig.driver->RunFrames(12); // past the notice's fade-in
    cvtest::ExpectMatchesGolden(s.Parts({IRECT(0, 0, 1280, 114), IRECT(0, 640, 1280, 816)}), CV_UI_GOLDEN_DIR,
                                "session_panels", cvtest::kEditorGoldenFraction);
}

TEST(EditorViewImage, SplitModeShowsTheCutLineAndLightsTheSplitButton) {
    SessionImage s(440.0);
    const IRECT button = s.rig.g->GetControlWithTag(kTagSplit)->GetRECT();
    auto look = [&] {
        s.rig.driver->Render();
        int lit = 0; // the icon's pixels in the light accent
        for (float y = button.T + 0.5f; y < button.B; ++y)
            for (float x = button.L + 0.5f; x < button.R; ++x) {
                const IColor p = s.rig.driver->PixelAt(x, y);
                lit += p.R > 200 && p.G > 120 && p.G < 190 && p.B < 130;
            }
        return std::make_pair(lit, s.rig.driver->PixelAt(400, 300).R); // and the canvas where a cut shows
    };
    s.rig.driver->MouseMove(400, 300);
    const auto [litOff, lineOff] = look();
    EXPECT_EQ(litOff, 0);
    s.rig.view->SetSplitMode(true);
    s.rig.driver->MouseMove(401, 300);
    s.rig.driver->MouseMove(400, 300);
    const auto [litOn, lineOn] = look();
    EXPECT_GT(litOn, 20);
    EXPECT_GT(lineOn, lineOff + 40) << lineOff;
}

TEST(EditorViewImage, AnA4Of432LowersTheRows) {
    // D4's row spans 439..453 at 440 Hz and 443.45..457.45 at 432 Hz, where 441 lies in D#4's row.
    SessionImage s(440.0);
    s.rig.driver->Render();
    EXPECT_EQ(s.rig.driver->PixelAt(700, 441), theme::kRowInScale);
    s.rig.Session().setA4Hz(432.0);
    s.rig.driver->Render();
    EXPECT_EQ(s.rig.driver->PixelAt(700, 441), theme::kCanvasBg);
    EXPECT_EQ(s.rig.driver->PixelAt(700, 456), theme::kRowInScale);
}

TEST(EditorViewImage, NotesOffTheCanvasDrawNothingOutsideIt) {
    // A note inside, one nudged above the canvas and one below, each joined to the next by a connector;
    // the bare context has nothing but the canvas, so every pixel outside it stays as cleared (but for the
    // antialiased fringe of the frame's corners, one unit wide).
    cvtest::CanvasRig rig(
        cvtest::CanvasDocument({{0, 24000, 60.0}, {24000, 24000, 90.0}, {48000, 24000, 40.0}}));
    const RGBAImage frame = rig.driver->Render();
    const IColor cleared = frame.At(0, 0);
    const IRECT c = cvtest::kCanvasControl.GetPadded(1.f);
    int outside = 0;
    for (int y = 0; y < frame.h; ++y)
        for (int x = 0; x < frame.w; ++x)
            if (!c.Contains(static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f))
                outside += cvtest::MaxChannelDiff(frame.At(x, y), cleared) > 0;
    EXPECT_EQ(outside, 0);
}

} // namespace
} // namespace cv::ui
