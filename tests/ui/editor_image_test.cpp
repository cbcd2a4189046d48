// The empty editor in pixels: a golden image at scale 1 and exact colours of its surfaces at 0.7, 1 and 1.5.

#include "tests/support/golden_image.h"
#include "tests/ui/editor_fixture.h"
#include "ui/chassis.h"
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
            cvtest::ExpectMatchesGolden(frame, CV_UI_GOLDEN_DIR, "empty_editor");
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

} // namespace
