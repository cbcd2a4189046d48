#include "tests/plugin/corvalinth_fixture.h"

namespace {

using cv::HostCallbackFaultLatch;
using cv::standin::Callback;
using cv::standin::PositionCodedSource;

TEST(HostCallbackFaultLatch, ShowsTheFirstFaultOnceAndRetriesWhileItCannotBeShown) {
    HostCallbackFaultLatch latch;
    EXPECT_EQ(latch.ClaimNotice(), nullptr);
    latch.ReportHostCallbackFailure(HostCallbackFaultLatch::UI);
    EXPECT_FALSE(latch.Muted());
    const char* first = latch.ClaimNotice();
    EXPECT_STREQ(first, HostCallbackFaultLatch::kGenericMessage);
    latch.ReleaseUnshownNotice(); // no editor: shown on a later tick
    latch.ReportHostCallbackFailure(HostCallbackFaultLatch::Audio);
    EXPECT_TRUE(latch.Muted());
    EXPECT_STREQ(latch.ClaimNotice(), HostCallbackFaultLatch::kAudioMessage);
    latch.ReportHostCallbackFailure(HostCallbackFaultLatch::State); // shown already: recorded only
    EXPECT_EQ(latch.ClaimNotice(), nullptr);
    EXPECT_EQ(latch.DomainMask(), 7u);
}

TEST(CorvalinthFaults, AnAudioFaultSilencesUntilTheNextResetAndIsShownOnceTheEditorOpens) {
    CorvalinthFixture f;
    f.configure(48000.0, 64, 2);
    f.host->setRecording(true);
    f.host->faults().arm(Callback::Process);
    f.host->run(cv::standin::contiguous(0, 64, 3)); // the fault, then two muted blocks
    for (const auto& plane : f.host->takeRecording())
        for (double v : plane)
            ASSERT_EQ(v, 0.0);
    f.expectNoEscapes();

    f.host->idle(); // editor closed: nothing to show yet
    f.plugin->editorOpen = true;
    f.plugin->controls.hasNoticeLine = false;
    f.host->idle();
    f.plugin->controls.hasNoticeLine = true;
    f.host->idle();
    f.host->faults().arm(Callback::Idle);
    f.host->idle(); // a second fault is recorded, not shown again
    ASSERT_EQ(f.plugin->controls.notices.size(), 1u);
    EXPECT_EQ(f.plugin->controls.notices[0].text, HostCallbackFaultLatch::kAudioMessage);
    EXPECT_EQ(f.plugin->controls.notices[0].durationMs, 0);

    f.host->faults().arm(Callback::Reset);
    f.configure(48000.0, 64, 2); // a failed reset keeps the output muted
    f.host->run(cv::standin::contiguous(192, 64, 1));
    EXPECT_EQ(f.host->takeRecording()[0][10], 0.0);
    f.configure(48000.0, 64, 2);
    f.host->run(cv::standin::contiguous(256, 64, 1));
    EXPECT_EQ(f.host->takeRecording()[0][10],
              static_cast<double>(static_cast<float>(PositionCodedSource::code(266, 0))));
    EXPECT_TRUE(CorvalinthProbe::latch(*f.plugin).Muted() == false);
}

TEST(CorvalinthFaults, AnEditorFaultKeepsTheOutputPlayingAndShowsTheGenericNotice) {
    CorvalinthFixture f;
    f.configure(48000.0, 64, 1);
    f.plugin->editorOpen = true;
    f.host->faults().arm(Callback::EditorOpen);
    f.plugin->OnUIOpen();
    f.host->idle();
    ASSERT_EQ(f.plugin->controls.notices.size(), 1u);
    EXPECT_EQ(f.plugin->controls.notices[0].text, HostCallbackFaultLatch::kGenericMessage);
    f.host->setRecording(true);
    f.host->processBlock({64, 0.0, true});
    EXPECT_EQ(f.host->takeRecording()[0][3],
              static_cast<double>(static_cast<float>(PositionCodedSource::code(3, 0))));
}

} // namespace
