#include "framework/host_entry.h"
#include "host/standin/free_runner.h"
#include "tests/plugin/corvalinth_fixture.h"

namespace {

using cv::standin::FreeRunner;

// Volume from both producers of the ring at once, on a host thread: automation for the next blocks and
// direct changes.
std::future<void> sendVolume(CorvalinthFixture& f, int times) {
    return FreeRunner::onHostThread([&f, times] {
        for (int i = 0; i < times; ++i) {
            f.host->automate(cv::kParamVolume, i % 101, i % 64);
            f.host->setParameter(cv::kParamVolume, (i * 7) % 101);
        }
    });
}

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

    auto volume = sendVolume(f, 2000);
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

// A host that resets audio from its own thread without waiting for the block in progress (the stand-in
// host's configure waits; some hosts do not): rates and block sizes change under a running ProcessBlock
// while Volume arrives as automation and as direct changes. What the audio thread keeps of its own (the
// scratch planes, the internal block, the previous block's position, the gain and the ring's consumer
// side) changes only at a block boundary, so ThreadSanitizer sees no race, and the audio thread still
// neither allocates, frees nor locks.
TEST(CorvalinthConcurrency, ResetsAtChangingRatesAndBlockSizesWhileBlocksRun) {
    CorvalinthFixture f;
    f.configure(48000.0, 512, 2);
    FreeRunner runner(*f.host, cv::standin::randomFrames(0, 1, 4096, 64, 3));
    runner.waitForBlocks(4);

    auto volume = sendVolume(f, 1000);
    constexpr double kRates[] = {44100.0, 96000.0, 22050.0, 48000.0};
    constexpr int kBlocks[] = {32, 4096, 333, 65536, 64};
    for (int i = 0; i < 100; ++i) {
        iplug::HostEntry::SetAudioConfig(*f.plugin, kRates[i % 4], kBlocks[i % 5], 2, 2);
        f.plugin->OnReset();
        runner.waitForBlocks(1);
    }
    volume.get();
    runner.waitForIdleTicks(2);
    runner.stop();

    EXPECT_FALSE(f.host->realtimeViolations().any()) << cv::standin::realtimeCheckDescription();
    EXPECT_EQ(f.plugin->EngineSampleRate(), 48000.0);
    // The last reset holds: without a region the track passes at the Volume it was reset to.
    f.host->setParameter(cv::kParamVolume, 100.0);
    f.plugin->OnReset();
    f.host->setRecording(true);
    f.host->processBlock({100, 0.0, true});
    const std::vector<double> out = f.host->takeRecording()[0];
    for (std::int64_t p = 0; p < 100; ++p)
        ASSERT_EQ(out[static_cast<std::size_t>(p)],
                  static_cast<double>(static_cast<float>(cv::standin::PositionCodedSource::code(p, 0))))
            << p;
}

} // namespace
