// The empty editor in pixels: a golden image at scale 1 and exact colours of its surfaces at 0.7, 1 and 1.5.

#include "tests/support/golden_image.h"
#include "tests/ui/editor_fixture.h"
#include "ui/chassis.h"
#include "ui/editor_layout.h"
#include "ui/editor_tags.h"
#include "ui/ivory/palette.h"
#include "ui/theme/theme.h"

namespace {

using namespace iplug::igraphics;

TEST(EditorImage, TheEmptyEditorMatchesItsGoldenImageAndItsSurfaceColours) {
    for (float scale : {1.f, 0.7f, 1.5f}) {
        SCOPED_TRACE(scale);
        EditorFixture f;
        f.plugin->OnIdle(); // the idle loop disables the document's controls and hides the zoom buttons
        f.g->Resize(1280, 816, scale, false);
        const RGBAImage frame = f.driver->Render();
        ASSERT_EQ(frame.w, std::lround(1280 * scale));
        if (scale == 1.f)
            cvtest::ExpectMatchesGolden(frame, CV_UI_GOLDEN_DIR, "empty_editor",
                                        cvtest::kEditorGoldenFraction);
        // Without the grain, flat surfaces show their exact colours: an enabled button face, a disabled one
        // under its veil, the canvas and the volume's accent fill.
        for (int i = 0; i < f.g->NControls(); ++i)
            if (dynamic_cast<GrainOverlay*>(f.g->GetControl(i)))
                f.g->GetControl(i)->Hide(true);
        f.driver->Render();
        cvtest::ExpectPixels(*f.driver,
                             {
                                 {"Capture face", 176, 31, ivory::kBtn, 0},
                                 {"Clear face under the veil", 375, 31, IColor(255, 28, 30, 32), 1},
                                 {"canvas", 45, 150, theme::kCanvasBg, 0},
                                 {"help face beside its icon", 976, 31, ivory::kBtn, 0},
                             });
    }
}

TEST(EditorImage, TheBuiltIconIsARoundedTileAndTheGrainAnEvenGrey) {
    const std::filesystem::path images = cv::ui::EditorResourceFolders().at(1);
    const RGBAImage icon = ReadPNG(images / "CorvalinthAppIcon.png");
    ASSERT_EQ(std::make_pair(icon.w, icon.h), std::make_pair(256, 256));
    for (const auto& [x, y] : {std::pair{0, 0}, {255, 0}, {0, 255}, {255, 255}, {14, 14}})
        EXPECT_EQ(icon.At(x, y).A, 0) << x << "," << y; // outside the tile's rounded corners
    EXPECT_EQ(icon.At(128, 128).A, 255);
    EXPECT_EQ(icon.At(128, 8).A, 255); // the tile reaches 8 from each edge

    const RGBAImage grain = ReadPNG(images / "noise.png");
    ASSERT_EQ(std::make_pair(grain.w, grain.h), std::make_pair(128, 128));
    double sum = 0.0;
    for (int y = 0; y < grain.h; ++y)
        for (int x = 0; x < grain.w; ++x) {
            const IColor p = grain.At(x, y);
            ASSERT_TRUE(p.A == 255 && p.R == p.G && p.G == p.B);
            sum += p.R;
        }
    EXPECT_NEAR(sum / (128.0 * 128.0), 128.0,
                4.0); // around the middle grey, so it neither lightens nor darkens
}

} // namespace
