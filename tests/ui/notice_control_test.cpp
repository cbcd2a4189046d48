// The notice line as a control on the test driver: its close mark and "Cancel", the cursor, hiding when a
// timed notice ends, and the plug-in's notice calls through the editor's seam.

#include "framework/graphics/offscreen.h"
#include "framework/graphics/testing/test_driver.h"
#include "framework/graphics/testing/test_scene.h"
#include "tests/ui/editor_fixture.h"
#include "ui/editor_tags.h"
#include "ui/ivory/palette.h"
#include "ui/notice_control.h"

#include <gtest/gtest.h>

namespace cv::ui {
namespace {

using namespace iplug::igraphics;

struct NoticeOnDriver : testing::Test {
    NoticeOnDriver() : g(MakeOffscreenGraphics(nullptr, 1280, 816, 60, 1.f)), d(*g) {
        g->AddResourcePath(ResourcesDir() / "fonts");
        for (const SceneFont& f : EditorFonts())
            g->LoadFont(f.id, f.file);
        notice = g->AttachControl(
            std::make_unique<NoticeControl>(IRECT(28, 650, 634, 688), [this] { ++cancels; }));
    }
    std::unique_ptr<IGraphics> g;
    TestDriver d;
    NoticeControl* notice = nullptr;
    int cancels = 0;
};

TEST_F(NoticeOnDriver, CloseMarkDismissesCancelCancelsAndTimedNoticesHideThemselves) {
    EXPECT_TRUE(notice->IsHidden());
    notice->ShowProgress("Analyzing audio · 12%", 0.12f, true);
    EXPECT_FALSE(notice->IsHidden());
    const IRECT cancel = notice->ActionArea();
    EXPECT_STREQ(notice->ActionLabel(), "Cancel");
    EXPECT_FLOAT_EQ(cancel.W(), NoticeControl::kCancelWidth);
    EXPECT_FLOAT_EQ(cancel.R, 634.f - 14.f);
    d.MouseMove(cancel.MW(), cancel.MH());
    EXPECT_EQ(d.Cursor(), ECursor::HAND);
    d.Click(cancel.MW(), cancel.MH());
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(notice->ShownKind(), NoticeKind::Progress); // the plug-in ends the progress, not the click
    d.MouseMove(100, 660);
    EXPECT_EQ(d.Cursor(), ECursor::ARROW);

    notice->Show("Couldn't export the file.", NoticeKind::Error, 0);
    const IRECT close = notice->ActionArea();
    EXPECT_STREQ(notice->ActionLabel(), "\xC3\x97");
    EXPECT_FLOAT_EQ(close.W(), NoticeControl::kCloseWidth);
    d.Click(close.MW(), close.MH());
    EXPECT_TRUE(notice->Line().Dismissing());
    d.RunFrames(6); // 100 ms
    EXPECT_TRUE(notice->IsHidden());

    notice->Show("Restored capture", NoticeKind::Status, 4000);
    d.RunFrames(230); // 3.83 s
    EXPECT_FALSE(notice->IsHidden());
    d.RunFrames(12);
    EXPECT_TRUE(notice->IsHidden());
}

TEST_F(NoticeOnDriver, TheProgressBarFillsInProportionToItsFraction) {
    // The track runs 3 in from the box's sides, 3 to 5 above its bottom: x 31..631 at y 683..685.
    for (const float fraction : {0.f, 0.1f, 0.5f, 0.9f, 1.f}) {
        SCOPED_TRACE(fraction);
        notice->ShowProgress("Rendering", fraction, false);
        EXPECT_EQ(notice->ActionLabel(), nullptr); // nothing to cancel
        d.RunFrames(10);                           // past the fade-in
        d.Render();
        const float end = 31.f + 600.f * fraction;
        if (fraction > 0.f) {
            EXPECT_EQ(d.PixelAt(end - 3.f, 684.f), ivory::kAccent);
        }
        if (fraction < 1.f) {
            EXPECT_EQ(d.PixelAt(end + 3.f, 684.f), ivory::kBtnEdge);
        }
    }
}

TEST(NoticeThroughThePlugin, ProgressParksANoticeThatReturnsWhenTheProgressIsCleared) {
    EditorFixture f;
    const auto* notice = dynamic_cast<const NoticeControl*>(f.Tagged(kTagNotice));
    ASSERT_NE(notice, nullptr);
    f.plugin->SetSuccess("Restored capture");
    f.plugin->SetProgressStatus("Analyzing audio · 12%", 0.12f, true, Corvalinth::ProgressOwner::Analysis);
    EXPECT_EQ(notice->ShownKind(), NoticeKind::Progress);
    f.plugin->SetWarning("Chords may not edit reliably"); // waits behind the progress, above the success
    f.plugin->ClearProgressStatus(Corvalinth::ProgressOwner::Analysis);
    f.driver->RunFrames(6);
    EXPECT_EQ(notice->ShownKind(), NoticeKind::Warning);
}

} // namespace
} // namespace cv::ui
