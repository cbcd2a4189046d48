#include "engine/analysis/pyin.h"
#include "engine/analysis/pyin_observation.h"
#include "engine/analysis/yin.h"
#include "tests/analysis/analysis_test_support.h"
#include "tests/support/signals.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <numbers>
#include <vector>

namespace {

constexpr double kRate = 48000.0;

np::PitchTrack track(const std::vector<float>& x, const np::PYinConfig& config = {},
                     const std::function<bool(float)>& progress = {}) {
    return np::trackPitchPYin(x.data(), static_cast<std::int64_t>(x.size()), kRate, config, progress);
}

void expectHeaderOnly(const np::PitchTrack& t, const np::PYinConfig& config, double rate) {
    EXPECT_EQ(t.sampleRate, rate);
    EXPECT_EQ(t.hop, config.hop);
    EXPECT_EQ(t.frame, config.frame);
    EXPECT_TRUE(t.frames.empty());
}

} // namespace

TEST(PYinPlan, RefusesJustPastEachLimit) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // 8192 bins over 3.9 million frames: the decoder alone would need about 380 MB.
    const double finestBins = (np::midiFromHz(1800.0) - np::midiFromHz(50.0)) * 100.0 / 8192.0;
    struct Case {
        const char* name;
        bool ok;
        std::int64_t samples;
        double rate;
        np::PYinConfig config;
    };
    const Case cases[] = {
        {"one frame of samples", true, 2048, kRate, {}},
        {"fewer samples than a frame", false, 2047, kRate, {}},
        {"4000000 frames", true, 2048 + 3999999LL * 256, kRate, {}},
        {"4000001 frames", false, 2048 + 4000000LL * 256, kRate, {}},
        {"decoder above 128 MiB", false, 2048 + 3900000LL * 256, kRate, {.binCents = finestBins}},
        {"rate 8000", true, 48000, 8000.0, {}},
        {"rate below 8000", false, 48000, 7999.0, {}},
        {"rate above 384000", false, 48000, 384001.0, {}},
        {"rate NaN", false, 48000, nan, {}},
        {"hop of 4194304", true, 48000, kRate, {.hop = 4194304}},
        {"hop above 4194304", false, 48000, kRate, {.hop = 4194305}},
        {"hop of zero", false, 48000, kRate, {.hop = 0}},
        {"frame of two", true, 48000, kRate, {.frame = 2}},
        {"frame of one", false, 48000, kRate, {.frame = 1}},
        {"frame not a power of two", false, 48000, kRate, {.frame = 3000}},
        {"frame of 4194304", true, 4194304, kRate, {.frame = 4194304}},
        {"frame above 4194304", false, 8388608, kRate, {.frame = 8388608}},
        {"maxHz below Nyquist", true, 48000, kRate, {.maxHz = 23999.0}},
        {"maxHz at Nyquist", false, 48000, kRate, {.maxHz = 24000.0}},
        {"minHz at maxHz", false, 48000, kRate, {.minHz = 1800.0}},
        {"minHz of zero", false, 48000, kRate, {.minHz = 0.0}},
        {"bin width NaN", false, 48000, kRate, {.binCents = nan}},
        {"negative jump", false, 48000, kRate, {.maxJumpCents = -1.0}},
        {"switch probability 1", true, 48000, kRate, {.voicedToUnvoiced = 1.0}},
        {"switch probability above 1", false, 48000, kRate, {.unvoicedToVoiced = 1.5}},
        {"silence level infinite", false, 48000, kRate, {.silenceDb = -inf}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto plan = np::planPYinDecoderMemory(c.samples, c.rate, c.config);
        EXPECT_EQ(plan.ok, c.ok);
        if (!c.ok) {
            EXPECT_EQ(plan.frames, 0u);
            EXPECT_EQ(plan.decoderBytes, 0u);
        }
    }

    // A pitch range that gives fewer than 2 bins is refused but keeps the frame count.
    const auto coarse = np::planPYinDecoderMemory(48000, kRate, {.binCents = 10000.0});
    EXPECT_FALSE(coarse.ok);
    EXPECT_EQ(coarse.frames, 180u);
    EXPECT_EQ(coarse.states, 0u);
}

TEST(PYinObservation, ThresholdPriorIsTheBetaDistribution) {
    EXPECT_EQ(np::thresholdPrior(-3.0), 0.0);
    EXPECT_EQ(np::thresholdPrior(std::numeric_limits<double>::quiet_NaN()), 0.0);
    EXPECT_DOUBLE_EQ(np::thresholdPrior(7.0), 1.0);
    // Beta(2, 18) has its median near 0.086 and its mean at 0.1.
    EXPECT_NEAR(np::thresholdPrior(0.0862), 0.5, 0.01);
    EXPECT_NEAR(np::thresholdPrior(0.1), 0.58, 0.02);
    for (int i = 1; i <= 1000; ++i)
        ASSERT_GE(np::thresholdPrior(i / 1000.0), np::thresholdPrior((i - 1) / 1000.0)) << i;
}

TEST(PYinObservation, WeighsCandidatesByThePriorAndKeepsTheSixteenLikeliest) {
    const np::PYinPitchGrid grid{621, np::midiFromHz(50.0), np::midiFromHz(1800.0), 10.0};
    // 3000 Hz lies out of range and takes no mass but still lowers the bar, and 220 Hz at 0.2 comes
    // after 0.02 was seen: only 440 Hz is kept.
    const std::vector<np::YinCandidate> few = {{3000.0, 0.05}, {440.0, 0.02}, {220.0, 0.2}};
    const np::FrameObs one = np::observeCandidates(few, grid);
    ASSERT_EQ(one.candidateCount, 1u);
    EXPECT_EQ(one.candidates[0].bin, static_cast<std::uint32_t>((69.0 - grid.midiMin) * 10.0));
    EXPECT_NEAR(one.voicedMass, np::thresholdPrior(0.05) - np::thresholdPrior(0.02), 1e-15);
    EXPECT_NEAR(one.bestConfidence, 0.98, 1e-15);
    // A candidate below the range is no pitch, however periodic: it lends the frame no confidence.
    const std::vector<np::YinCandidate> low = {{440.0, 0.2}, {30.0, 0.01}};
    EXPECT_NEAR(np::observeCandidates(low, grid).bestConfidence, 0.8, 1e-15);

    std::vector<np::YinCandidate> many; // decreasing values: each is the first below some thresholds
    for (int i = 0; i < 20; ++i)
        many.push_back({1500.0 - 50.0 * i, 0.8 - 0.03 * i});
    const np::FrameObs obs = np::observeCandidates(many, grid);
    ASSERT_EQ(obs.candidateCount, 16u);
    double sum = 0.0;
    for (const auto& m : obs.kept()) {
        sum += m.probability;
        // The four least likely (the highest values, where the prior is thin) were dropped.
        EXPECT_LT(grid.centreHz(m.bin), 1500.0 - 50.0 * 3) << m.bin;
    }
    const double total = 1.0 - np::thresholdPrior(0.8 - 0.03 * 19);
    EXPECT_NEAR(obs.voicedMass, std::min(total, 0.99), 1e-12);
    EXPECT_NEAR(sum, std::min(total, 1.0), 1e-12); // kept masses rescaled to the total

    // A perfect candidate takes all the prior, yet the frame keeps a chance of being unvoiced.
    const np::FrameObs sure = np::observeCandidates(std::vector<np::YinCandidate>{{440.0, 0.0}}, grid);
    EXPECT_EQ(sure.voicedMass, 0.99);
    EXPECT_DOUBLE_EQ(sure.candidates[0].probability, 1.0);
}

TEST(PYinTracking, VoicedFramesFollowTheKnownPitch) {
    // 220 Hz with 40 cents of vibrato at 5.5 Hz; the estimate is the mean frequency over the window.
    const auto vibratoHz = [](std::size_t i) {
        double cycles = 0.0;
        for (std::size_t s = i * 256; s < i * 256 + 2048; ++s)
            cycles += 220.0 * std::exp2(40.0 * std::sin(2.0 * std::numbers::pi * 5.5 * s / kRate) / 1200.0);
        return cycles / 2048.0;
    };
    const auto glideHz = [](std::size_t i) {
        return 200.0 * std::pow(283.0 / 200.0, (i * 256 + 1024) / 96000.0);
    };
    // A low tone whose upper harmonics dominate, its second harmonic boosted, plus noise: frame by frame
    // the best YIN minimum sometimes lies an octave off; the path must resist the jump.
    auto rich = cvtest::harmonicTone(110.0, kRate, 96000, 20, 0.4f);
    cvtest::mixInto(rich, cvtest::sine(220.0, kRate, 96000, 0.25f), 0);
    cvtest::mixInto(rich, cvtest::noise(96000, 0.05f, 5), 0);
    struct Case {
        const char* name;
        std::vector<float> x;
        std::function<double(std::size_t)> hz;
        double cents;
        double confidence;
        np::PYinConfig config;
    };
    const auto fixed = [](double hz) { return [hz](std::size_t) { return hz; }; };
    const Case cases[] = {
        {"vibrato", cvtest::vibrato(220.0, 40.0, 5.5, kRate, 96000), vibratoHz, 5.0, 0.8, {}},
        // The nearest bin centre lies 0.14 cents from 440 Hz: the refined candidate is reported instead.
        {"steady sine", cvtest::sine(440.0, kRate, 48000), fixed(440.0), 0.1, 0.99, {}},
        // -53 dBFS: quiet, but well above the -70 dB below which a frame has no pitch.
        {"quiet sine", cvtest::sine(440.0, kRate, 48000, 0.003f), fixed(440.0), 0.1, 0.99, {}},
        {"rich tone", rich, fixed(110.0), 50.0, 0.0, {}},
        // 1.6 cents per frame: within the one bin per frame allowed without a jump allowance.
        {"slow glide", cvtest::glide(200.0, 283.0, kRate, 96000), glideHz, 5.0, 0.0, {.maxJumpCents = 0.0}},
    };
    np::YinFrameAnalyzer yin(2048, kRate, 50.0, 1800.0);
    std::vector<np::YinCandidate> candidates;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const np::PitchTrack t = track(c.x, c.config);
        ASSERT_EQ(t.frames.size(), (c.x.size() - 2048) / 256 + 1);
        std::size_t voiced = 0;
        for (std::size_t i = 0; i < t.frames.size(); ++i) {
            const np::PitchFrame& f = t.frames[i];
            if (f.voiced) {
                ++voiced;
                EXPECT_LT(std::abs(cvtest::centsBetween(f.hz, c.hz(i))), c.cents) << i;
                EXPECT_GE(f.confidence, c.confidence) << i;
                EXPECT_EQ(f.flags, 0) << i;
                // A reported candidate brings its own confidence, not that of a better one elsewhere.
                yin.analyze(c.x.data() + i * 256, candidates, 0.9);
                for (const np::YinCandidate& candidate : candidates)
                    if (candidate.hz == f.hz) {
                        EXPECT_EQ(f.confidence, std::clamp(1.0 - candidate.value, 0.0, 1.0)) << i;
                    }
            }
        }
        EXPECT_GE(voiced, t.frames.size() * 9 / 10);
    }
}

TEST(PYinTracking, NoiseAndSilenceAreUnvoiced) {
    const np::PitchTrack noise = track(cvtest::noise(96000, 0.5f, 17));
    EXPECT_LE(std::count_if(noise.frames.begin(), noise.frames.end(), [](const auto& f) { return f.voiced; }),
              static_cast<std::ptrdiff_t>(noise.frames.size()) / 20);

    // A tone between silences: unvoiced while the window holds none of it, voiced well inside it.
    auto x = cvtest::silence(144000);
    cvtest::mixInto(x, cvtest::harmonicTone(300.0, kRate, 48000), 48000);
    const np::PitchTrack t = track(x);
    for (std::size_t i = 0; i < t.frames.size(); ++i) {
        const auto start = static_cast<std::int64_t>(i) * 256;
        if (start + 2048 <= 48000 || start >= 96000) {
            EXPECT_FALSE(t.frames[i].voiced) << i;
        } else if (start >= 48000 + 2048 && start + 2048 <= 96000 - 2048) {
            EXPECT_TRUE(t.frames[i].voiced) << i;
        }
    }
}

TEST(PYinTracking, StopsAtEveryCheckAndRefusesBadInput) {
    const auto x = cvtest::harmonicTone(250.0, kRate, 150000);
    std::vector<float> seen;
    ASSERT_FALSE(track(x, {}, [&](float f) {
                     seen.push_back(f);
                     return true;
                 }).frames.empty());
    EXPECT_EQ(seen.front(), 0.0f);
    EXPECT_EQ(seen.back(), 1.0f);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    int whole = 0;
    const int checks = cvtest::stopAtEveryCheck([&](auto keepGoing) { return track(x, {}, keepGoing); },
                                                [&](const np::PitchTrack& t, int) {
                                                    whole += t.frames.empty() ? 0 : 1;
                                                    EXPECT_EQ(t.hop, 256u);
                                                });
    EXPECT_EQ(whole, 1) << "only the final report, whose answer is not used, leaves the frames";
    // 578 frames: every 64th observed, every 256th decoded forward, every 64th of each of the 17
    // backward segments of 34 frames, every 256th reported, and 1.0 at the end.
    EXPECT_EQ(checks, 10 + 3 + 17 + 3 + 1);

    np::PYinConfig config{.hop = 128, .frame = 1024};
    const auto y = cvtest::sine(440.0, 44100.0, 10000);
    expectHeaderOnly(np::trackPitchPYin(y.data(), 1000, 44100.0, config, {}), config, 44100.0);
    expectHeaderOnly(np::trackPitchPYin(nullptr, 10000, 44100.0, config, {}), config, 44100.0);
    config.frame = 1000;
    expectHeaderOnly(np::trackPitchPYin(y.data(), 10000, 44100.0, config, {}), config, 44100.0);
}
