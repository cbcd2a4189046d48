#include "tests/plugin/corvalinth_fixture.h"

#include <cmath>
#include <limits>

namespace {

using cv::standin::PositionCodedSource;
using cv::standin::TransportBlock;
using cv::standin::TransportScript;
using State = np::TransferCapture::State;

// Odd host block sizes, several beyond the host's announced maximum of 512.
constexpr int kOddSizes[] = {37, 512, 4096, 1023, 37, 4096, 513};

TransportScript oddBlocks(std::int64_t from, std::int64_t until) {
    TransportScript script;
    for (std::size_t b = 0; from < until; ++b) {
        const int n = kOddSizes[b % std::size(kOddSizes)];
        script.push_back({n, static_cast<double>(from), true, false});
        from += n;
    }
    return script;
}

struct AlignmentCase {
    double rate;
    int channels;
};

class CaptureAlignment : public ::testing::TestWithParam<AlignmentCase> {};

TEST_P(CaptureAlignment, PlaysTheCaptureBackSampleAlignedWithItsEdgeRamp) {
    const auto [rate, channels] = GetParam();
    CorvalinthFixture f;
    f.configure(rate, 512, channels);
    f.arm();
    const std::int64_t start = 100003;
    const TransportScript capture = oddBlocks(start, start + 20000);
    std::int64_t end = start;
    for (const TransportBlock& b : capture)
        end += b.frames;
    f.host->run(capture);
    f.host->processBlock({64, static_cast<double>(end), false}); // the transport stops: the capture ends
    auto& recorder = CorvalinthProbe::capture(*f.plugin);
    ASSERT_EQ(recorder.state(), State::Done);
    auto taken = recorder.takeCapture();
    ASSERT_EQ(taken->startPosition, start);
    const std::int64_t n = taken->audio.frames;
    ASSERT_EQ(n, end - start);

    auto source = std::make_unique<np::PlaybackSource>();
    source->shared = std::make_shared<const np::AudioBuffer>(std::move(taken->audio));
    CorvalinthProbe::player(*f.plugin).setRegion(std::move(source), start, f.plugin->PlaybackGeneration());
    f.host->setInput(nullptr); // the track is muted: only the region sounds
    f.host->setRecording(true);
    const std::int64_t playFrom = start - 2000;
    f.host->run(oddBlocks(playFrom, end + 1000));
    const auto out = f.host->takeRecording();

    const std::int64_t fade = std::max<std::int64_t>(1, static_cast<std::int64_t>(0.005 * rate));
    const std::int64_t edge = std::max<std::int64_t>(1, std::min((n - 1) / 2, fade));
    ASSERT_EQ(out.size(), static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        const auto& plane = out[static_cast<std::size_t>(c)];
        for (std::int64_t p = playFrom; p < end + 1000; ++p) {
            float expected = 0.0f;
            if (p >= start && p < end) {
                const std::int64_t k = p - start;
                const auto s = static_cast<float>(PositionCodedSource::code(p, c));
                const std::int64_t fromEdge = std::min(k, n - 1 - k);
                expected = fromEdge >= edge ? s : s * static_cast<float>(double(fromEdge) / double(edge));
            }
            const double got = plane[static_cast<std::size_t>(p - playFrom)];
            if (got != static_cast<double>(expected))
                FAIL() << "channel " << c << " frame " << p - start << ": " << got << " != " << expected;
        }
    }
    EXPECT_FALSE(f.host->realtimeViolations().any()) << cv::standin::realtimeCheckDescription();
}

INSTANTIATE_TEST_SUITE_P(RatesAndChannels, CaptureAlignment,
                         ::testing::Values(AlignmentCase{44100.0, 1}, AlignmentCase{44100.0, 2},
                                           AlignmentCase{48000.0, 1}, AlignmentCase{48000.0, 2},
                                           AlignmentCase{96000.0, 1}, AlignmentCase{96000.0, 2}));

TEST(CorvalinthAudio, AudioThreadNeitherAllocatesNorLocksAcrossCaptureRegionsAuditionEventsAndRateChanges) {
    CorvalinthFixture f;
    f.configure(48000.0, 512, 2);
    f.arm();
    std::int64_t pos = 0;
    const auto play = [&](int blocks, int frames) {
        for (int b = 0; b < blocks; ++b, pos += frames) {
            for (int e = 0; e < 256; ++e) // a full ring every block
                f.host->automate(cv::kParamVolume, (e * 7) % 101, (e * 13) % frames);
            f.host->processBlock({frames, static_cast<double>(pos), true});
        }
    };
    const auto region = [&](float value) {
        auto source = std::make_unique<np::PlaybackSource>();
        source->audio.resize(2, 48000);
        std::fill(source->audio.samples.begin(), source->audio.samples.end(), value);
        CorvalinthProbe::player(*f.plugin).setRegion(std::move(source), pos, f.plugin->PlaybackGeneration());
    };
    play(8, 512); // recording
    region(0.25f);
    play(4, 333);
    region(0.5f); // replaced while it plays: a cross-fade
    auto tone = std::make_unique<np::AudioBuffer>();
    tone->resize(1, 24000);
    CorvalinthProbe::voice(*f.plugin).setSource(std::move(tone)); // an audition over it
    play(4, 333);
    CorvalinthProbe::voice(*f.plugin).clear();
    f.host->idle(); // frees retired regions
    f.plugin->ToggleCompare();
    play(2, 4096);
    f.configure(96000.0, 1024, 2); // a rate change makes the region stale and re-prepares the recorder
    play(6, 700);
    EXPECT_EQ(f.host->realtimeViolations(), cv::standin::RealtimeCounts{})
        << cv::standin::realtimeCheckDescription();
}

TEST(CorvalinthAudio, KeepsCapturingAcrossAResetWithTheSameRateAndChannels) {
    CorvalinthFixture f;
    f.configure(48000.0, 256, 2);
    f.arm();
    f.host->run(cv::standin::contiguous(1000, 256, 4));
    f.host->configure({48000.0, 512, 2, 2}); // no idle tick before the next blocks
    f.host->run(cv::standin::contiguous(1000 + 4 * 256, 512, 3));
    f.host->idle();
    f.host->run(cv::standin::contiguous(1000 + 4 * 256 + 3 * 512, 512, 1));
    f.host->processBlock({64, 1000.0 + 4 * 256 + 4 * 512, false});
    auto& recorder = CorvalinthProbe::capture(*f.plugin);
    ASSERT_EQ(recorder.state(), State::Done);
    EXPECT_EQ(recorder.endReason(), np::TransferCapture::EndReason::TransportStopped);
    EXPECT_EQ(recorder.framesWritten(), 4 * 256 + 4 * 512);
}

TEST(CorvalinthAudio, AbortsACaptureWhenTheHostPlaysWithoutAPosition) {
    struct Case {
        double rate;
        int limitBlocks; // of 64 frames: max(0.25 s, 2048 frames)
    };
    for (const Case c : {Case{48000.0, 188}, Case{8000.0, 32}}) {
        SCOPED_TRACE(c.rate);
        CorvalinthFixture f;
        f.plugin->editorOpen = true;
        f.configure(c.rate, 64, 2);
        f.arm();
        f.host->run(cv::standin::withPosition(cv::standin::contiguous(0, 64, c.limitBlocks - 1), -1.0));
        f.host->idle();
        EXPECT_EQ(CorvalinthProbe::capture(*f.plugin).state(), State::Armed);
        f.host->processBlock({64, -1.0, true});
        f.host->idle();
        EXPECT_EQ(CorvalinthProbe::capture(*f.plugin).state(), State::Idle);
        ASSERT_FALSE(f.plugin->controls.notices.empty());
        EXPECT_EQ(f.plugin->controls.notices.back().text, Corvalinth::kNoPositionMessage);
        EXPECT_EQ(f.plugin->controls.notices.back().durationMs, 0);
    }
}

// A mono track with a broken sample, on a stereo output: both sides hear it, the broken sample as 0.
struct BrokenMonoSource : cv::standin::InputSource {
    void fill(std::int64_t position, int frames, std::span<double* const> channels) const noexcept override {
        for (double* plane : channels)
            for (int i = 0; i < frames; ++i)
                plane[i] = position + i == 5 ? std::numeric_limits<double>::quiet_NaN()
                                             : PositionCodedSource::code(position + i, 0);
    }
};

TEST(CorvalinthAudio, PassesTheInputThroughRealtimeAndOfflineEvenWhenTheBounceRenderFails) {
    // Realtime; a bounce with nothing rendered; a bounce whose render failed.
    for (const auto& [offline, offlineKey] : {std::pair{false, 0u}, {true, 0u}, {true, 1u}}) {
        SCOPED_TRACE(testing::Message() << "key " << offlineKey << (offline ? " offline" : " realtime"));
        CorvalinthFixture f;
        f.host->configure({48000.0, 64, 1, 2});
        f.host->idle();
        CorvalinthProbe::setOfflineKey(*f.plugin, offlineKey);
        f.host->setInput(std::make_shared<BrokenMonoSource>());
        f.host->setRecording(true);
        TransportScript script = cv::standin::contiguous(0, 100, 3);
        if (offline)
            f.host->bounce(script);
        else
            f.host->run(script);
        const auto out = f.host->takeRecording();
        for (std::size_t c = 0; c < 2; ++c)
            for (std::int64_t p = 0; p < 300; ++p)
                ASSERT_EQ(out[c][static_cast<std::size_t>(p)],
                          p == 5 ? 0.0
                                 : static_cast<double>(static_cast<float>(PositionCodedSource::code(p, 0))))
                    << "channel " << c << " frame " << p;
    }
}

TEST(CorvalinthAudio, TheAuditionSoundsOnEveryChannelBeforeTheVolumeGain) {
    CorvalinthFixture f;
    f.host->setParameter(cv::kParamVolume, 50.0);
    f.configure(48000.0, 1024, 2);
    auto tone = std::make_unique<np::AudioBuffer>();
    tone->resize(1, 24000);
    std::fill(tone->samples.begin(), tone->samples.end(), 0.5f);
    CorvalinthProbe::voice(*f.plugin).setSource(std::move(tone));
    f.host->setRecording(true);
    f.host->processBlock({1024, 0.0, true});
    const auto out = f.host->takeRecording();
    for (std::size_t c = 0; c < 2;
         ++c) // past the 5 ms fade-in the host is ducked out, the voice at full level
        EXPECT_EQ(out[c][1000], 0.25) << "channel " << c;
}

} // namespace
