#include "host/standin/free_runner.h"
#include "tests/plugin/corvalinth_fixture.h"

namespace {

using cv::standin::FreeRunner;

// Every thread of a DAW at once while a capture records: the audio thread plays, the main thread idles
// and re-arms the recorder, one host thread automates and sets Volume (two producers of the ring) and
// another resets audio, at the same and at another rate, so the configuration hand-over and the
// recorder's re-preparation meet the audio thread.
TEST(CorvalinthConcurrency, CaptureVolumeAndResetsFromEveryThreadAtOnce) {
    CorvalinthFixture f;
    f.configure(48000.0, 256, 2);
    FreeRunner runner(*f.host, cv::standin::randomFrames(0, 1, 700, 64, 5));
    const auto rearm = [&] {
        auto& capture = CorvalinthProbe::capture(*f.plugin);
        capture.takeCapture();
        capture.arm(np::TransferCapture::kWorkingSetBytes - (8u << 20));
    };
    runner.onMainThread(rearm).get();
    runner.waitForBlocks(20);

    auto volume = FreeRunner::onHostThread([&] {
        for (int i = 0; i < 2000; ++i) {
            f.host->automate(cv::kParamVolume, i % 101, i % 64);
            f.host->setParameter(cv::kParamVolume, (i * 7) % 101);
        }
    });
    auto resets = FreeRunner::onHostThread([&] {
        for (int i = 0; i < 12; ++i)
            f.host->configure({i % 3 == 1 ? 44100.0 : 48000.0, 128 + 64 * (i % 4), 2, 2});
    });
    for (int i = 0; i < 20; ++i) {
        runner.onMainThread(rearm).get();
        runner.waitForBlocks(10);
    }
    volume.get();
    resets.get();
    runner.waitForIdleTicks(2);
    runner.waitForBlocks(20);
    runner.stop();

    EXPECT_FALSE(f.host->realtimeViolations().any()) << cv::standin::realtimeCheckDescription();
    EXPECT_EQ(f.plugin->EngineSampleRate(), 48000.0);
}

} // namespace
