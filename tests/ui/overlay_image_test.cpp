// Each overlay open on the empty editor, against its golden image (with a tolerance).

#include "tests/support/golden_image.h"
#include "tests/ui/overlay_fixture.h"

namespace cv::ui {
namespace {

using namespace iplug::igraphics;

void ExpectGolden(OverlayFixture& f, const char* name) {
    f.driver->RunFrames(12); // past the fade-in
    cvtest::ExpectMatchesGolden(f.driver->Render(), CV_UI_GOLDEN_DIR, name, cvtest::kEditorGoldenFraction);
}

struct OverlayImage : testing::Test {
    OverlayFixture f;
    OverlayImage() { f.plugin->OnIdle(); }
};

TEST_F(OverlayImage, Help) {
    f.help->OpenModal();
    f.help->SetPage(2);
    ExpectGolden(f, "help_overlay");
}

TEST_F(OverlayImage, Preferences) {
    ASSERT_TRUE(f.prefs.set(kPrefAutosaveIntervalSec, "300"));
    f.prefsOverlay->OpenModal();
    f.prefsOverlay->Choose(0, 2);
    ExpectGolden(f, "prefs_overlay");
}

TEST_F(OverlayImage, SoftwareUpdates) {
    f.updates.status = UpdateStatusWord::UpdateAvailable;
    f.updates.result.version = "1.1.0";
    f.updateCenter->OpenModal();
    ExpectGolden(f, "updates_overlay");
}

TEST_F(OverlayImage, Confirmation) {
    f.confirm->OpenModal("Clear capture?", "Remove this capture and all its edits?",
                         {"Clear capture", "Cancel"}, 1, [](int) {});
    ExpectGolden(f, "confirm_overlay");
}

} // namespace
} // namespace cv::ui
