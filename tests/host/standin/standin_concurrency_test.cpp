#include "host/standin/free_runner.h"
#include "host/standin/realtime_check.h"
#include "tests/host/standin/test_gain_plugin.h"
#include "tests/support/step_gate.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <gtest/gtest.h>

namespace {

using cv::standin::FreeRunner;
using cv::standin::StandinHost;
using cvtest::TestGainPlugin;

// Everything a DAW does at once: the audio thread plays, the main thread idles and opens and closes the
// editor, host threads save, restore, automate, change parameters and reset at another rate.
TEST(StandinConcurrency, PlugInSurvivesEveryThreadAtOnceAndKeepsItsState) {
    auto owned = std::make_unique<TestGainPlugin>();
    TestGainPlugin& plugin = *owned;
    StandinHost host(std::move(owned));
    host.configure({48000.0, 128, 2, 2});
    FreeRunner runner(host, cv::standin::randomFrames(0, 1, 300, 64, 11));
    runner.waitForBlocks(50);

    auto saver = FreeRunner::onHostThread([&] {
        for (int i = 0; i < 50; ++i) {
            const auto record = host.saveState();
            ASSERT_TRUE(record);
            host.restoreState(*record, {i % 2 == 0, 0});
        }
    });
    auto automation = FreeRunner::onHostThread([&] {
        for (int i = 0; i < 300; ++i) {
            host.automate(TestGainPlugin::kGain, i % 101, i % 64);
            host.setParameter(TestGainPlugin::kMode, i % 3);
        }
    });
    auto resets = FreeRunner::onHostThread([&] {
        for (int i = 0; i < 10; ++i)
            host.configure({i % 2 ? 44100.0 : 96000.0, 32 + 64 * i, 1 + i % 2, 2});
    });
    auto editor = runner.onMainThread([&] {
        host.openEditor();
        host.resizeEditorWindow(640, 480);
        host.closeEditor();
    });
    saver.get();
    automation.get();
    resets.get();
    editor.get();
    runner.waitForIdleTicks(2);
    runner.waitForBlocks(50);
    runner.stop();

    EXPECT_TRUE(host.escapedExceptions().empty());
    EXPECT_FALSE(host.realtimeViolations().any()) << cv::standin::realtimeCheckDescription();
    EXPECT_GE(plugin.idles.load(), 2);
    EXPECT_EQ(plugin.resets.load(), 11);
    EXPECT_EQ(plugin.lastResetRate.load(), 44100.0);

    // The state saved after the storm restores the values it was saved with.
    plugin.GetParam(TestGainPlugin::kGain)->Set(12.5);
    const auto record = host.saveState();
    ASSERT_TRUE(record);
    plugin.GetParam(TestGainPlugin::kGain)->Set(99.0);
    EXPECT_TRUE(host.restoreState(*record));
    EXPECT_EQ(plugin.GetParam(TestGainPlugin::kGain)->Value(), 12.5);
}

// A restore from a host thread with real main-thread idle ticks between the hook and the decode.
TEST(StandinConcurrency, RestoreStepsStraddleMainThreadIdleTicks) {
    auto owned = std::make_unique<TestGainPlugin>();
    TestGainPlugin& plugin = *owned;
    StandinHost host(std::move(owned));
    host.configure({48000.0, 64, 2, 2});
    plugin.GetParam(TestGainPlugin::kMode)->Set(1.0);
    const auto record = host.saveState();
    ASSERT_TRUE(record);
    plugin.GetParam(TestGainPlugin::kMode)->Set(2.0);

    FreeRunner runner(host, cv::standin::contiguous(0, 64, 16));
    bool accepted = false;
    FreeRunner::onHostThread([&] {
        ASSERT_TRUE(host.beginRestore());
        const int ticksAtHook = plugin.idles.load();
        runner.waitForIdleTicks(2);
        EXPECT_GE(plugin.idles.load(), ticksAtHook + 2);
        accepted = host.finishRestore(*record);
    }).get();
    runner.stop();
    EXPECT_TRUE(accepted);
    EXPECT_EQ(plugin.restoreBegins.load(), 1);
    EXPECT_EQ(plugin.GetParam(TestGainPlugin::kMode)->Value(), 1.0);
    EXPECT_TRUE(host.escapedExceptions().empty());
}

// A track whose blocks the test lets through one at a time (every one once it is opened).
class GatedTrack : public cv::standin::InputSource {
public:
    mutable cvtest::StepGate gate;
    std::atomic<bool> open{false};

    void fill(std::int64_t, int frames, std::span<double* const> channels) const noexcept override {
        gate.pass([this] { return open.load(); });
        for (double* plane : channels)
            std::fill_n(plane, frames, 0.0);
    }
};

// A wait counts from its call: it returns once that many more blocks (idle ticks) have run, however many
// ran before.
TEST(StandinConcurrency, AWaitCountsFromItsCall) {
    auto owned = std::make_unique<TestGainPlugin>();
    TestGainPlugin& plugin = *owned;
    StandinHost host(std::move(owned));
    host.configure({48000.0, 64, 2, 2});
    const auto track = std::make_shared<GatedTrack>();
    host.setInput(track);
    FreeRunner runner(host, cv::standin::contiguous(0, 64, 4));
    for (int i = 0; i < 8; ++i)
        track->gate.release();
    track->gate.waitStarted(9); // eight blocks played, the ninth waits at the gate
    ASSERT_EQ(host.blocksProcessed(), 8);
    // The waiter's condition waits count as a realtime thread's, so the test sees it blocked before it
    // lets two more blocks through.
    const std::uint64_t waits = cv::standin::totalViolations().conditionCalls;
    auto waiter = std::async(std::launch::async, [&] {
        const cv::standin::RealtimeScope counted;
        runner.waitForBlocks(2);
        return host.blocksProcessed();
    });
    while (cv::standin::totalViolations().conditionCalls == waits &&
           waiter.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        std::this_thread::yield();
    track->gate.release();
    track->gate.release();
    EXPECT_GE(waiter.get(), 10);
    track->open = true;

    runner.waitForIdleTicks(2);
    const int idles = plugin.idles.load();
    runner.waitForIdleTicks(1);
    EXPECT_GE(plugin.idles.load(), idles + 1);
    runner.stop();
}

} // namespace
