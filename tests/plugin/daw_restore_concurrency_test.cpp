#include "host/standin/free_runner.h"
#include "tests/plugin/daw_restore_fixture.h"

namespace {

using cv::standin::FreeRunner;

// A host thread saves while the main thread drags a note and while a changed Algorithm awaits the
// user's answer, with the audio thread running: a save shows the last published state only.
TEST(DawRestoreConcurrency, SavesOnAHostThreadNeverSeeAnOpenDragOrAnUnconfirmedAlgorithm) {
    EditedSession f;
    const iplug::HostStateRecord before = *f.host->saveState();
    FreeRunner runner(*f.host, cv::standin::randomFrames(0, 1, 400, 64, 3));

    runner
        .onMainThread([&] {
            Corvalinth& p = *f.plugin;
            p.Session().beginGesture();
            const std::uint32_t ids[] = {4};
            p.Session().addPitchOffset(ids, 3.0);
            p.OnDocumentEdited();
        })
        .get();
    FreeRunner::onHostThread([&] {
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(f.host->saveState(), before);
    }).get();
    runner
        .onMainThread([&] {
            f.plugin->Session().endGesture();
            f.plugin->OnDocumentEdited();
        })
        .get();
    const iplug::HostStateRecord dragged = *f.host->saveState();
    EXPECT_NE(dragged, before);

    // Saves racing the publishes of edits and of their undo: each is whole, and the last is the start.
    auto saves = FreeRunner::onHostThread([&] {
        for (int i = 0; i < 40; ++i)
            EXPECT_TRUE(f.host->saveState().has_value());
    });
    runner
        .onMainThread([&] {
            const std::uint32_t ids[] = {2};
            for (int i = 0; i < 20; ++i) {
                f.plugin->Session().addPitchOffset(ids, 0.5);
                f.plugin->OnDocumentEdited();
            }
            for (int i = 0; i < 20; ++i)
                f.plugin->Undo();
        })
        .get();
    saves.get();
    EXPECT_EQ(f.host->saveState(), dragged);

    FreeRunner::onHostThread([&] { f.host->setParameter(cv::kParamAlgorithm, 1.0); }).get();
    runner.waitForIdleTicks(2);
    bool asked = false;
    runner.onMainThread([&] { asked = !f.plugin->controls.asked.empty(); }).get();
    EXPECT_TRUE(asked) << "an edited session asks before it is analysed again";
    FreeRunner::onHostThread([&] {
        const iplug::HostStateRecord saved = *f.host->saveState();
        EXPECT_EQ(savedValue(saved, cv::dawstate::kValueAlgorithm), 0.0);
        EXPECT_EQ(saved, dragged);
    }).get();
    runner.stop();
    EXPECT_FALSE(f.host->realtimeViolations().any()) << cv::standin::realtimeCheckDescription();
}

// Two restores back to back on a host thread: the second wins. Then a restore whose decode waits for
// idle ticks of the main thread: it is installed all the same.
TEST(DawRestoreConcurrency, RestoresOnAHostThreadMeetTheIdleLoop) {
    EditedSession a;
    const iplug::HostStateRecord first = *a.host->saveState();
    a.host->setParameter(cv::kParamTempo, 150.0);
    a.plugin->Session().undo();
    a.plugin->OnDocumentEdited();
    a.host->idle();
    const iplug::HostStateRecord second = *a.host->saveState();

    FlowFixture b;
    b.configure(48000.0, 512, 1);
    b.captureAndAnalyse(0, 24000);
    FreeRunner* running = nullptr;
    bool waitForTicks = false;
    b.plugin->duringRestoreDecode = [&] {
        if (waitForTicks)
            running->waitForIdleTicks(3);
    };
    FreeRunner runner(*b.host, cv::standin::randomFrames(0, 1, 400, 64, 7));
    running = &runner;

    FreeRunner::onHostThread([&] {
        EXPECT_TRUE(b.host->restoreState(first));
        EXPECT_TRUE(b.host->restoreState(second));
    }).get();
    runner.waitForIdleTicks(2);
    EXPECT_EQ(b.host->saveState(), second);
    double tempo = 0.0;
    runner.onMainThread([&] { tempo = b.plugin->GetParam(cv::kParamTempo)->Value(); }).get();
    EXPECT_EQ(tempo, 150.0);

    waitForTicks = true;
    FreeRunner::onHostThread([&] { EXPECT_TRUE(b.host->restoreState(first)); }).get();
    runner.waitForIdleTicks(2);
    runner.stop();
    // Written from the installed session, published again: the first state to the byte.
    EXPECT_EQ(b.host->saveState(), first);
}

} // namespace
