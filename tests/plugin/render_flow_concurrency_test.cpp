#include "tests/plugin/flow_fixture.h"

namespace {

// A bounce waits on the audio thread for the render of an edit while the main thread keeps ticking
// (its render flow must neither block on the offline lock nor read what the bounce writes under it)
// and cancels that render once, as Escape does: the bounce asks again and still holds the edit.
TEST(RenderFlowConcurrency, ABounceAsksAgainForARenderCancelledUnderItWhileTheIdleLoopTicks) {
    FlowFixture f;
    f.configure(48000.0, 512, 1);
    f.captureAndAnalyse(1000, 9600);
    f.host->setInput(nullptr);
    f.renderGate->open.store(false);
    const std::uint32_t id = f.plugin->Session().document().notes.front().id;
    ASSERT_TRUE(f.plugin->Session().addPitchOffset({&id, 1}, 2.0));
    f.plugin->OnDocumentEdited();
    while (f.renderGate->started.load() < 1)
        std::this_thread::yield();

    std::atomic<bool> bounced{false};
    std::vector<double> out;
    std::thread audio([&] {
        out = f.play(0, 24, true);
        bounced.store(true);
    });
    while (!CorvalinthProbe::offlineLocked(*f.plugin))
        f.host->idle();
    f.plugin->CancelBackgroundWork();
    while (f.renderGate->started.load() < 2 && !bounced.load())
        f.host->idle();
    f.renderGate->open.store(true);
    while (!bounced.load())
        f.host->idle();
    audio.join();

    EXPECT_EQ(out[1000 + 4800], 3.0);
    f.host->idle(2);
    EXPECT_EQ(CorvalinthProbe::renderRevisions(*f.plugin).second, f.plugin->Session().editCount());
    EXPECT_TRUE(f.texts().empty());
}

} // namespace
