#include "host/standin/host_state.h"
#include "host/standin/input_source.h"
#include "host/standin/standin_host.h"
#include "tests/host/standin/test_gain_plugin.h"
#include "tests/support/heap_usage.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace {

using cv::standin::AudioConfig;
using cv::standin::Callback;
using cv::standin::PositionCodedSource;
using cv::standin::StandinHost;
using cv::standin::TransportBlock;
using cvtest::TestGainPlugin;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Host {
    TestGainPlugin* plugin;
    StandinHost host;
    Host() : Host(std::make_unique<TestGainPlugin>()) {}
    explicit Host(std::unique_ptr<TestGainPlugin> p) : plugin(p.get()), host(std::move(p)) {}
    void expectNoEscapes() {
        for (const auto& e : host.escapedExceptions())
            ADD_FAILURE() << cv::standin::callbackName(e.callback) << ": " << e.what;
    }
};

TEST(StandinHost, AutomationIsSampleAccurateWithTiesInSendingOrder) {
    Host h;
    h.host.configure({48000.0, 64, 2, 2});
    h.host.setRecording(true);
    // Block 1: a few events with a tie at offset 10 (the later one wins) and one past the block's end.
    h.host.automate(TestGainPlugin::kGain, 50.0, 0);
    h.host.automate(TestGainPlugin::kGain, 25.0, 10);
    h.host.automate(TestGainPlugin::kGain, 75.0, 10);
    h.host.automate(TestGainPlugin::kGain, 0.0, 63);
    h.host.processBlock({64, 1000.0, true, false});
    // Block 2: a burst of 300 events at random offsets, sent out of order.
    std::mt19937 rng(7);
    std::vector<double> expectedGain(64, 0.0);
    std::vector<std::pair<int, double>> burst;
    for (int e = 0; e < 300; ++e)
        burst.push_back({static_cast<int>(rng() % 64), static_cast<double>(rng() % 1001) / 10.0});
    double g = 0.0;
    for (int i = 0; i < 64; ++i) {
        for (const auto& [offset, value] : burst)
            if (offset == i)
                g = value / 100.0; // the last one sent at this offset
        expectedGain[static_cast<std::size_t>(i)] = g;
    }
    for (const auto& [offset, value] : burst)
        h.host.automate(TestGainPlugin::kGain, value, offset);
    h.host.processBlock({64, 1064.0, true, false});

    const auto out = h.host.takeRecording();
    ASSERT_EQ(out.size(), 2u);
    ASSERT_EQ(out[0].size(), 128u);
    for (int i = 0; i < 128; ++i) {
        SCOPED_TRACE(i);
        const double gain = i < 64 ? (i < 10   ? 0.5
                                      : i < 63 ? 0.75
                                               : 0.0)
                                   : expectedGain[static_cast<std::size_t>(i - 64)];
        for (int c = 0; c < 2; ++c)
            EXPECT_EQ(out[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)],
                      PositionCodedSource::code(1000 + i, c) * gain);
    }
    EXPECT_EQ(h.plugin->ringOverflows.load(), 0);
    h.expectNoEscapes();
}

TEST(StandinHost, SurvivesResetsMidStreamAndDegenerateTransport) {
    Host h;
    h.host.setRecording(true);
    struct Step {
        AudioConfig config;
        TransportBlock block;
    };
    const Step steps[] = {
        {{48000.0, 512, 2, 2}, {512, 0.0, true, false}},
        {{96000.0, 512, 1, 1}, {512, 512.0, true, false}}, // rate and channels change mid-stream
        {{0.0, 32, 1, 2}, {100000, -1.0, true, false}},    // no rate; a block far beyond the maximum
        {{1e6, 100000, 2, 2}, {32, kNaN, false, false}},   // absurd rate, NaN position
        {{44100.0, 64, 0, 2}, {64, kInf, true, false}},    // no input at all
        {{44100.0, 64, 2, 2}, {64, -kInf, true, false}},
        {{44100.0, 64, 2, 2}, {64, 9.3e18, true, false}},                // beyond the 64-bit range
        {{44100.0, 64, 2, 2}, {64, 9223372036854774784.0, true, false}}, // the last doubles below 2^63
        {{44100.0, 64, 2, 2}, {0, 5.0, true, false}},                    // an empty block
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.config.sampleRate);
        h.host.configure(s.config);
        EXPECT_EQ(h.plugin->lastResetRate.load(), s.config.sampleRate);
        EXPECT_EQ(h.plugin->NOutChansConnected(), s.config.outputChannels);
        h.host.processBlock(s.block);
        const auto out = h.host.takeRecording();
        ASSERT_EQ(out.size(), static_cast<std::size_t>(s.config.outputChannels));
        ASSERT_EQ(out[0].size(), static_cast<std::size_t>(s.block.frames));
        for (int i = 0; i < s.block.frames; ++i) {
            // Without inputs the plug-in hears silence; otherwise a coded sample of some position.
            const double y = out[0][static_cast<std::size_t>(i)];
            if (s.config.inputChannels == 0)
                ASSERT_EQ(y, 0.0);
            else
                ASSERT_GE(PositionCodedSource::decode(y), 0) << i;
        }
    }
    EXPECT_EQ(h.plugin->resets.load(), static_cast<int>(std::size(steps)));
    EXPECT_THROW(h.host.configure({48000.0, 64, 9, 2}), std::invalid_argument);
    EXPECT_THROW(h.host.configure({48000.0, 0, 2, 2}), std::invalid_argument);
    h.expectNoEscapes();
}

TEST(StandinHost, SourceFollowsTheReportedPositionAndContinuesWithoutOne) {
    Host h;
    h.host.configure({48000.0, 16, 1, 1});
    h.host.setRecording(true);
    h.host.run(cv::standin::loop(100, 120, 16, 2) +
               cv::standin::withPosition(cv::standin::contiguous(0, 8, 1), -1.0));
    const auto out = h.host.takeRecording()[0];
    const std::vector<std::int64_t> expected = {100, 115, 116, 119, 100, 115, 116, 119, 120, 127};
    const std::vector<std::size_t> at = {0, 15, 16, 19, 20, 35, 36, 39, 40, 47};
    for (std::size_t k = 0; k < at.size(); ++k)
        EXPECT_EQ(PositionCodedSource::decode(out[at[k]]), expected[k]) << at[k];
}

TEST(StandinHost, PlaysADecodedTakeOnTheTimelineAndSilenceAroundIt) {
    // Position codes are exact in float, so every sample tells where it came from.
    np::AudioBuffer take;
    take.resize(2, 100);
    for (int p = 0; p < 100; ++p)
        for (int c = 0; c < 2; ++c)
            take.channel(c)[static_cast<std::size_t>(p)] =
                static_cast<float>(PositionCodedSource::code(p, c));
    Host h;
    h.host.configure({48000.0, 16, 2, 2});
    h.host.setInput(
        std::make_shared<cv::standin::TrackSource>(std::make_shared<const np::AudioBuffer>(take)));
    h.host.setRecording(true);
    h.host.processBlock({16, 90.0, true, false});
    const auto out = h.host.takeRecording();
    for (int i = 0; i < 16; ++i)
        for (int c = 0; c < 2; ++c)
            EXPECT_EQ(out[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)],
                      i < 10 ? PositionCodedSource::code(90 + i, c) : 0.0)
                << i << " " << c;
}

// The float bounce holds every output sample once, in the order played across blocks of any size, and
// only the frames the script plays; the gain plug-in's output is the coded input, so each sample says
// where it came from.
TEST(StandinHost, BouncesToFloatEveryFramePlayedInPlace) {
    Host h;
    h.host.configure({48000.0, 64, 2, 2});
    h.host.automate(TestGainPlugin::kGain, 50.0, 0);
    const auto bounced = h.host.bounceToFloat(cv::standin::randomFrames(300, 1, 200, 40, 11) +
                                              cv::standin::TransportScript{{0, 0.0}, {-3, 0.0}});
    std::int64_t frames = 0;
    for (const auto& block : cv::standin::randomFrames(300, 1, 200, 40, 11))
        frames += block.frames;
    ASSERT_EQ(std::pair(bounced.channels, bounced.frames), std::pair(2, frames));
    ASSERT_EQ(bounced.samples.size(), static_cast<std::size_t>(2 * frames));
    for (int c = 0; c < 2; ++c)
        for (std::int64_t i = 0; i < frames; ++i)
            ASSERT_EQ(bounced.samples[static_cast<std::size_t>(c * frames + i)],
                      static_cast<float>(PositionCodedSource::code(300 + i, c) * 0.5))
                << "channel " << c << " frame " << i;
    EXPECT_FALSE(h.host.realtimeViolations().any());
    h.host.processBlock({64, 0.0, true, false});
    EXPECT_EQ(h.host.bounceToFloat({}).samples.size(), 0u) << "a later block is not recorded";
    h.expectNoEscapes();
}

// A take the host plays one last time gives its pages back behind the play position as it goes and plays
// the same samples as before; what lies behind then reads as silence (but for the pages at its edges).
TEST(StandinHost, AnOwnedTrackGivesBackWhatItsLastPlayHasPlayed) {
    constexpr std::int64_t kFrames = 60 * 48000;
    constexpr std::uint64_t kTakeBytes = kFrames * 4;
    const auto expected = [](std::int64_t p) { return static_cast<float>(p % 4801) / 4800.0f - 0.5f; };
    np::AudioBuffer take;
    take.resize(1, kFrames);
    for (std::int64_t p = 0; p < kFrames; ++p)
        take.channel(0)[static_cast<std::size_t>(p)] = expected(p);
    const auto source = std::make_shared<cv::standin::OwnedTrackSource>(std::move(take));
    Host h;
    h.host.configure({48000.0, 512, 1, 1});
    h.host.automate(TestGainPlugin::kGain, 100.0, 0);
    h.host.setInput(source);

    source->giveBackAsPlayed();
    const std::uint64_t before = cvtest::residentBytes();
    std::int64_t at = 0, wrong = 0;
    h.host.bounceInto(cv::standin::contiguous(0, 512, kFrames / 512 + 2),
                      [&](const double* const* planes, int, int frames) {
                          for (int i = 0; i < frames; ++i, ++at)
                              wrong += planes[0][i] != (at < kFrames ? expected(at) : 0.0f) ? 1 : 0;
                      });
    EXPECT_EQ(wrong, 0);
    EXPECT_LT(cvtest::residentBytes() + kTakeBytes * 3 / 4, before) << "the take was not given back";
    h.host.bounceInto(cv::standin::contiguous(kFrames / 2, 512, 1),
                      [&](const double* const* planes, int, int frames) {
                          EXPECT_EQ(std::count(planes[0], planes[0] + frames, 0.0), frames);
                      });
    h.expectNoEscapes();
}

TEST(StandinHost, StateRoundTripsFromAnotherThreadAndDamagedStateIsRefused) {
    Host source;
    source.plugin->GetParam(TestGainPlugin::kGain)->Set(33.3);
    source.plugin->GetParam(TestGainPlugin::kMode)->Set(2.0);
    source.plugin->SetNote("a note");
    auto saved = std::async(std::launch::async, [&] { return source.host.saveState(); }).get();
    ASSERT_TRUE(saved);

    Host target;
    const bool restored = std::async(std::launch::async, [&] {
                              return target.host.restoreState(*saved, {true, 3});
                          }).get();
    EXPECT_TRUE(restored);
    EXPECT_EQ(target.plugin->GetParam(TestGainPlugin::kGain)->Value(), 33.3);
    EXPECT_EQ(target.plugin->GetParam(TestGainPlugin::kMode)->Value(), 2.0);
    EXPECT_EQ(target.plugin->Note(), "a note");
    EXPECT_EQ(target.plugin->idles.load(), 3); // ticks between the hook and the decode
    EXPECT_EQ(target.plugin->restoreBegins.load(), 1);

    using cv::standin::bitFlipped;
    using cv::standin::oversized;
    using cv::standin::truncated;
    struct Case {
        const char* name;
        iplug::HostStateRecord record;
    };
    const Case refused[] = {
        {"truncated in the values", truncated(*saved, 12)},
        {"truncated to nothing", truncated(*saved, 0)},
        {"flipped magic bit", bitFlipped(*saved, 3)},
        {"mode no longer a whole index", bitFlipped(*saved, 8 * 16)},
        {"trailing bytes", oversized(*saved, 1)},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        Host fresh;
        EXPECT_FALSE(fresh.host.restoreState(c.record, {false, 0}));
        EXPECT_EQ(fresh.plugin->GetParam(TestGainPlugin::kGain)->Value(), 100.0);
        EXPECT_EQ(fresh.plugin->restoreBegins.load(), 0);
        fresh.expectNoEscapes();
    }

    // Preset recall goes through UnserializeState without the hook.
    EXPECT_TRUE(target.host.recallPreset(0));
    EXPECT_EQ(target.plugin->GetParam(TestGainPlugin::kGain)->Value(), 100.0);
    EXPECT_EQ(target.plugin->restoreBegins.load(), 1);
    source.expectNoEscapes();
    target.expectNoEscapes();
}

TEST(StandinHost, ExceptionsEscapingCallbacksAreCaughtAndNamed) {
    Host h;
    h.plugin->SetFaults(&h.host.faults());
    h.host.configure({48000.0, 64, 2, 2});
    h.host.faults().arm(Callback::Process);
    h.host.faults().arm(Callback::SaveState);
    h.host.processBlock({64, 0.0, true, false});
    EXPECT_FALSE(h.host.saveState());
    h.host.processBlock({64, 64.0, true, false}); // armed once: this block runs
    ASSERT_TRUE(h.host.saveState());
    const auto escaped = h.host.escapedExceptions();
    ASSERT_EQ(escaped.size(), 2u);
    EXPECT_EQ(escaped[0].callback, Callback::Process);
    EXPECT_EQ(escaped[0].what, "Injected fault in ProcessBlock");
    EXPECT_EQ(escaped[1].callback, Callback::SaveState);
    EXPECT_EQ(h.host.blocksProcessed(), 2);
}

struct NoexceptThrower : TestGainPlugin {
    static void fail() { throw std::runtime_error("escaped through noexcept"); }
    void ProcessBlock(double**, double**, int) noexcept override { fail(); }
};

TEST(StandinHostDeathTest, TerminateTrapNamesTheCallback) {
    EXPECT_DEATH(
        {
            StandinHost host(std::make_unique<NoexceptThrower>());
            host.configure({48000.0, 64, 2, 2});
            host.processBlock({64, 0.0, true, false});
        },
        "terminate inside ProcessBlock");
}

TEST(StandinHost, RealtimeCheckFlagsTheAudioThreadButNotAnOfflineBounce) {
    Host h;
    h.host.configure({48000.0, 256, 2, 2});
    h.host.run(cv::standin::contiguous(0, 256, 4));
    EXPECT_FALSE(h.host.realtimeViolations().any()); // the host's own work is not counted

    h.plugin->allocateInProcess = true;
    const auto held = h.host.bounce(cv::standin::contiguous(0, 256, 3));
    EXPECT_EQ(held.size(), 3u);
    EXPECT_FALSE(h.host.realtimeViolations().any());
    h.host.processBlock({256, 0.0, true, false});
    const auto seen = h.host.realtimeViolations();
    EXPECT_EQ(seen.allocations, 1u);
    EXPECT_EQ(seen.frees, 1u);

    h.plugin->allocateInProcess = false;
    h.plugin->lockInProcess = true;
    h.host.processBlock({256, 256.0, true, false});
    EXPECT_EQ(h.host.realtimeViolations().mutexCalls, 2u) << cv::standin::realtimeCheckDescription();

    // Host automation reaches OnParamChange on the audio thread, inside the check; a change from a host
    // thread, or automation during a bounce, is outside it.
    h.plugin->lockInProcess = false;
    h.plugin->lockInParamChange = true;
    h.host.setParameter(TestGainPlugin::kGain, 50.0);
    h.host.automate(TestGainPlugin::kGain, 25.0, 0);
    h.host.bounce(cv::standin::contiguous(512, 256, 1));
    EXPECT_EQ(h.host.realtimeViolations().mutexCalls, 2u);
    h.host.automate(TestGainPlugin::kGain, 75.0, 0);
    h.host.processBlock({256, 768.0, true, false});
    EXPECT_EQ(h.host.realtimeViolations().mutexCalls, 4u);
    h.expectNoEscapes();
}

} // namespace
