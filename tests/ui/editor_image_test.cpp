// The empty editor in pixels: a golden image at scale 1 and exact colours of its surfaces at 0.7, 1 and 1.5.

#include "framework/graphics/offscreen.h"
#include "tests/ui/editor_fixture.h"
#include "ui/chassis.h"
#include "ui/editor_tags.h"
#include "ui/ivory/palette.h"
#include "ui/theme/theme.h"

#include <cstdlib>

namespace {

using namespace iplug::igraphics;

int MaxChannelDiff(const IColor& a, const IColor& b) {
    return std::max({std::abs(a.A - b.A), std::abs(a.R - b.R), std::abs(a.G - b.G), std::abs(a.B - b.B)});
}

TEST(EditorImage, TheEmptyEditorMatchesItsGoldenImageAndItsSurfaceColours) {
    for (float scale : {1.f, 0.7f, 1.5f}) {
        SCOPED_TRACE(scale);
        EditorFixture f;
        f.plugin->OnIdle(); // the idle loop disables the document's controls and hides the zoom buttons
        f.g->Resize(1280, 816, scale, false);
        const RGBAImage frame = f.driver->Render();
        ASSERT_EQ(frame.w, std::lround(1280 * scale));
        if (scale == 1.f) {
            // Regenerate: CV_UPDATE_GOLDEN=1 build/tests/ui/ui_tests --gtest_filter=EditorImage.*
            // (then look at the image).
            const std::string golden = std::string(CV_UI_GOLDEN_DIR) + "/empty_editor.png";
            if (std::getenv("CV_UPDATE_GOLDEN"))
                ASSERT_TRUE(WritePNG(frame, golden));
            const RGBAImage expected = ReadPNG(golden);
            ASSERT_EQ(expected.w, frame.w) << "missing or mis-sized golden image " << golden;
            ASSERT_EQ(expected.h, frame.h);
            std::size_t off = 0;
            for (int y = 0; y < frame.h; ++y)
                for (int x = 0; x < frame.w; ++x)
                    off += MaxChannelDiff(frame.At(x, y), expected.At(x, y)) > 8;
            EXPECT_LT(static_cast<double>(off) / (frame.w * frame.h), 0.002) << off << " pixels differ";
        }
        // Without the grain, flat surfaces show their exact colours: an enabled button face, a disabled one
        // under its veil, the canvas and the volume's accent fill.
        for (int i = 0; i < f.g->NControls(); ++i)
            if (dynamic_cast<GrainOverlay*>(f.g->GetControl(i)))
                f.g->GetControl(i)->Hide(true);
        f.driver->Render();
        const struct {
            const char* what;
            float x, y;
            IColor color;
            int tolerance;
        } probes[] = {
            {"Capture face", 176, 31, ivory::kBtn, 0},
            {"Clear face under the veil", 375, 31, IColor(255, 28, 30, 32), 1},
            {"canvas", 45, 150, theme::kCanvasBg, 0},
            {"help face beside its icon", 976, 31, ivory::kBtn, 0},
        };
        for (const auto& p : probes) {
            SCOPED_TRACE(p.what);
            const IColor got = f.driver->PixelAt(p.x, p.y);
            EXPECT_LE(MaxChannelDiff(got, p.color), p.tolerance) << got.R << "," << got.G << "," << got.B;
        }
    }
}

} // namespace
