#include "host/standin/free_runner.h"
#include "tests/host/standin/test_gain_plugin.h"

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

} // namespace
