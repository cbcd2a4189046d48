// Each overlay open on the empty editor, against its golden image (with a tolerance).

#include "framework/graphics/offscreen.h"
#include "tests/ui/overlay_fixture.h"

#include <cstdlib>

namespace cv::ui {
namespace {

using namespace iplug::igraphics;

int MaxChannelDiff(const IColor& a, const IColor& b) {
    return std::max({std::abs(a.A - b.A), std::abs(a.R - b.R), std::abs(a.G - b.G), std::abs(a.B - b.B)});
}

// Regenerate: CV_UPDATE_GOLDEN=1 build/tests/ui/ui_tests --gtest_filter=OverlayImage.* (then look at the
// images).
void ExpectGolden(OverlayFixture& f, const char* name) {
    f.driver->RunFrames(12); // past the fade-in
    const RGBAImage frame = f.driver->Render();
    const std::string golden = std::string(CV_UI_GOLDEN_DIR) + "/" + name + ".png";
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
