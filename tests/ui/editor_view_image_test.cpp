// The canvas in pixels: a fixed four-note session against its golden image, exact colours of the flat
// surfaces and the selected outline, and the grid rows lowered by an A4 of 432 Hz.

#include "tests/ui/canvas_fixture.h"
#include "ui/chassis.h"
#include "ui/theme/theme.h"

#include <cmath>
#include <cstdlib>

namespace cv::ui {
namespace {

using namespace iplug::igraphics;

int MaxChannelDiff(const IColor& a, const IColor& b) {
    return std::max({std::abs(a.A - b.A), std::abs(a.R - b.R), std::abs(a.G - b.G), std::abs(a.B - b.B)});
}

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
    RGBAImage Canvas() {
        const RGBAImage frame = rig.driver->Render();
        const IRECT c = cvtest::kCanvasControl;
        RGBAImage out;
        out.w = static_cast<int>(c.W());
        out.h = static_cast<int>(c.H());
        for (int y = 0; y < out.h; ++y)
            for (int x = 0; x < out.w; ++x) {
                const IColor p = frame.At(x + static_cast<int>(c.L), y + static_cast<int>(c.T));
                out.rgba.insert(out.rgba.end(),
                                {std::uint8_t(p.R), std::uint8_t(p.G), std::uint8_t(p.B), std::uint8_t(p.A)});
            }
        return out;
    }
};

TEST(EditorViewImage, AFourNoteSessionMatchesItsGoldenImageAndItsExactColours) {
    SessionImage s(440.0);
    const RGBAImage canvas = s.Canvas();
    // Regenerate: CV_UPDATE_GOLDEN=1 build/tests/ui/ui_tests --gtest_filter=EditorViewImage.* (then look).
    const std::string golden = std::string(CV_UI_GOLDEN_DIR) + "/canvas_session.png";
    if (std::getenv("CV_UPDATE_GOLDEN"))
        ASSERT_TRUE(WritePNG(canvas, golden));
    const RGBAImage expected = ReadPNG(golden);
    ASSERT_EQ(expected.w, canvas.w) << "missing or mis-sized golden image " << golden;
    ASSERT_EQ(expected.h, canvas.h);
    std::size_t off = 0;
    for (int y = 0; y < canvas.h; ++y)
        for (int x = 0; x < canvas.w; ++x)
            off += MaxChannelDiff(canvas.At(x, y), expected.At(x, y)) > 8;
    EXPECT_LT(static_cast<double>(off) / (canvas.w * canvas.h), 0.002) << off << " pixels differ";

    const struct {
        const char* what;
        float x, y;
        IColor color;
        int tolerance;
    } probes[] = {
        {"canvas background (C#4, off the scale)", 700, 460, theme::kCanvasBg, 0},
        {"in-scale row (D4)", 700, 446, theme::kRowInScale, 0},
        {"ruler below the frame's shade", 1000, 130, theme::kRulerBg, 0},
        {"selected outline, left edge", 253, 474, theme::kBlobOutlineSel, 40},
        {"muted note over its shadow and a row", 400, 449, IColor(255, 77, 62, 48), 1},
    };
    for (const auto& p : probes) {
        SCOPED_TRACE(p.what);
        const IColor got = s.rig.driver->PixelAt(p.x, p.y);
        EXPECT_LE(MaxChannelDiff(got, p.color), p.tolerance) << got.R << "," << got.G << "," << got.B;
    }
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

} // namespace
} // namespace cv::ui
