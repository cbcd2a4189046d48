#include "engine/analysis/pyin.h"
#include "engine/analysis/pyin_observation.h"
#include "tests/support/signals.h"

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

void expectHeaderOnly(const np::PitchTrack& t, const np::PYinConfig& config, double rate = kRate) {
    EXPECT_EQ(t.sampleRate, rate);
    EXPECT_EQ(t.hop, config.hop);
    EXPECT_EQ(t.frame, config.frame);
    EXPECT_TRUE(t.frames.empty());
}

} // namespace

TEST(PYinPlan, DefaultsAtFortyEightKilohertz) {
    const np::PYinDecoderMemoryPlan plan = np::planPYinDecoderMemory(48000, kRate, {});
    ASSERT_TRUE(plan.ok);
    EXPECT_EQ(plan.frames, 180u);
    EXPECT_EQ(plan.states, 1242u);
    EXPECT_EQ(plan.checkpointInterval, 19u);
    EXPECT_EQ(plan.checkpointCount, 10u);
    EXPECT_EQ(plan.fullTableBytes, 180u * 1242u * 4u);
    EXPECT_EQ(plan.decoderBytes, 621u * 10u * 16u + (1242u * 19u + 180u) * 4u);
    EXPECT_EQ(plan.transitionWork, 2u * 180u * 621u * 49u);
    EXPECT_EQ(plan.observationBytes, 16u * 621u * 180u);

    // 1200 s, the longest capture, stays far inside the decoder budget.
    const auto longest = np::planPYinDecoderMemory(1200 * 48000, kRate, {});
    ASSERT_TRUE(longest.ok);
    EXPECT_LE(longest.decoderBytes, np::kPYinDecoderBudgetBytes);
    EXPECT_LT(longest.decoderBytes, longest.fullTableBytes / 100);

    np::PYinConfig still;
    still.maxJumpCents = 0.0;
    EXPECT_EQ(np::planPYinDecoderMemory(48000, kRate, still).transitionWork, 2u * 180u * 621u * 3u);
}

TEST(PYinPlan, RefusesBadSettingsAndTooMuchAudio) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        std::int64_t samples;
        double rate;
        void (*change)(np::PYinConfig&);
    };
    const Case cases[] = {
        {"fewer samples than a frame", 2047, kRate, [](np::PYinConfig&) {}},
        {"frame not a power of two", 48000, kRate, [](np::PYinConfig& c) { c.frame = 3000; }},
        {"frame of one", 48000, kRate, [](np::PYinConfig& c) { c.frame = 1; }},
        {"hop of zero", 48000, kRate, [](np::PYinConfig& c) { c.hop = 0; }},
        {"rate too low", 48000, 7999.0, [](np::PYinConfig&) {}},
        {"maxHz at Nyquist", 48000, kRate, [](np::PYinConfig& c) { c.maxHz = 24000.0; }},
        {"minHz above maxHz", 48000, kRate, [](np::PYinConfig& c) { c.minHz = 2000.0; }},
        {"bin width NaN", 48000, kRate,
         [](np::PYinConfig& c) { c.binCents = std::numeric_limits<double>::quiet_NaN(); }},
        {"negative jump", 48000, kRate, [](np::PYinConfig& c) { c.maxJumpCents = -1.0; }},
        {"switch probability above 1", 48000, kRate, [](np::PYinConfig& c) { c.voicedToUnvoiced = 1.5; }},
        {"silence level infinite", 48000, kRate,
         [](np::PYinConfig& c) { c.silenceDb = -std::numeric_limits<double>::infinity(); }},
        {"4000000 frames", 2048 + 4000000LL * 256, kRate, [](np::PYinConfig&) {}},
        // 8192 bins over 3.9 million frames: the decoder alone would need about 380 MB.
        {"decoder above 128 MiB", 2048 + 3900000LL * 256, kRate,
         [](np::PYinConfig& c) {
             c.binCents = (np::midiFromHz(1800.0) - np::midiFromHz(50.0)) * 100.0 / 8192.0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        np::PYinConfig config;
        c.change(config);
        const auto plan = np::planPYinDecoderMemory(c.samples, c.rate, config);
        EXPECT_FALSE(plan.ok);
        EXPECT_EQ(plan.frames, 0u);
        EXPECT_EQ(plan.decoderBytes, 0u);
    }
    EXPECT_FALSE(np::planPYinDecoderMemory(48000, nan, {}).ok);

    // A pitch range that gives fewer than 2 bins is refused but keeps the frame count.
    np::PYinConfig coarse;
    coarse.binCents = 10000.0;
    const auto plan = np::planPYinDecoderMemory(48000, kRate, coarse);
    EXPECT_FALSE(plan.ok);
    EXPECT_EQ(plan.frames, 180u);
    EXPECT_EQ(plan.states, 0u);
}

TEST(PYinObservation, ThresholdPriorIsTheBetaDistribution) {
    EXPECT_EQ(np::thresholdPrior(0.0), 0.0);
    EXPECT_EQ(np::thresholdPrior(-3.0), 0.0);
    EXPECT_DOUBLE_EQ(np::thresholdPrior(1.0), 1.0);
    EXPECT_DOUBLE_EQ(np::thresholdPrior(7.0), 1.0);
    // Beta(2, 18) has its median near 0.086 and its mean at 0.1.
    EXPECT_NEAR(np::thresholdPrior(0.0862), 0.5, 0.01);
    EXPECT_NEAR(np::thresholdPrior(0.1), 0.58, 0.02);
    double last = 0.0;
    for (int i = 1; i <= 1000; ++i) {
        const double c = np::thresholdPrior(i / 1000.0);
        ASSERT_GE(c, last) << i;
        last = c;
    }
}

TEST(PYinObservation, WeighsCandidatesByThePriorAndKeepsTheSixteenLikeliest) {
    np::PYinPitchGrid grid{621, np::midiFromHz(50.0), np::midiFromHz(1800.0), 10.0};
    {
        SCOPED_TRACE("two candidates, one out of range");
        // The out-of-range candidate takes no mass but still lowers the bar for the ones after it.
        const std::vector<np::YinCandidate> c = {{3000.0, 0.05}, {440.0, 0.02}, {220.0, 0.2}};
        const np::FrameObs obs = np::observeCandidates(c, grid);
        ASSERT_EQ(obs.candidateCount, 1u); // 220 Hz gets no mass
        const double p440 = np::thresholdPrior(0.05) - np::thresholdPrior(0.02);
        const double p220 = 0.0; // 0.2 is above the 0.02 already seen
        EXPECT_EQ(obs.candidates[0].bin, static_cast<std::uint32_t>((69.0 - grid.midiMin) * 10.0));
        EXPECT_NEAR(obs.voicedMass, p440 + p220, 1e-15);
        EXPECT_NEAR(obs.bestConfidence, 0.98, 1e-15);
    }
    {
        SCOPED_TRACE("more than sixteen candidates");
        // Decreasing values: each candidate is the first below some thresholds.
        std::vector<np::YinCandidate> c;
        for (int i = 0; i < 20; ++i)
            c.push_back({1500.0 - 50.0 * i, 0.8 - 0.03 * i});
        const np::FrameObs obs = np::observeCandidates(c, grid);
        ASSERT_EQ(obs.candidateCount, 16u);
        double sum = 0.0;
        for (const auto& m : obs.kept())
            sum += m.probability;
        const double total = np::thresholdPrior(1.0) - np::thresholdPrior(0.8 - 0.03 * 19);
        EXPECT_NEAR(obs.voicedMass, std::min(total, 0.99), 1e-12);
        EXPECT_NEAR(sum, std::min(total, 1.0), 1e-12); // kept masses rescaled to the total
        // The four least likely (the highest values, where the prior is thin) were dropped.
        for (const auto& m : obs.kept())
            EXPECT_LT(grid.centreHz(m.bin), 1500.0 - 50.0 * 3) << m.bin;
    }
}

TEST(PYinTracking, FollowsVibratoWithinFiveCents) {
    // 220 Hz with 40 cents of vibrato at 5.5 Hz, two seconds.
    const double centre = 220.0;
    const double depth = 40.0;
    const double rate = 5.5;
    const auto x = cvtest::vibrato(centre, depth, rate, kRate, 96000);
    const np::PitchTrack t = track(x);
    ASSERT_EQ(t.frames.size(), (96000u - 2048u) / 256u + 1u);
    int voiced = 0;
    for (std::size_t i = 0; i < t.frames.size(); ++i) {
        const auto& f = t.frames[i];
        if (!f.voiced)
            continue;
        ++voiced;
        // The estimate is the mean frequency over the window (the cycles it holds over its length).
        double cycles = 0.0;
        for (std::size_t s = i * 256; s < i * 256 + 2048; ++s) {
            const double time = static_cast<double>(s) / kRate;
            cycles += centre *
                      std::pow(2.0, depth * std::sin(2.0 * std::numbers::pi * rate * time) / 1200.0) / kRate;
        }
        const double truth = cycles * kRate / 2048.0;
        EXPECT_LT(std::abs(cvtest::centsBetween(f.hz, truth)), 5.0) << i;
        EXPECT_GT(f.confidence, 0.8) << i;
    }
    EXPECT_GT(voiced, static_cast<int>(t.frames.size()) * 9 / 10);
}

TEST(PYinTracking, SteadySineReportsTheRefinedFrequencyNotTheBinCentre) {
    const np::PitchTrack t = track(cvtest::sine(440.0, kRate, 48000));
    ASSERT_EQ(t.frames.size(), 180u);
    for (const auto& f : t.frames) {
        ASSERT_TRUE(f.voiced);
        // The nearest bin centre lies 0.14 cents from 440 Hz; the refined candidate is closer.
        EXPECT_LT(std::abs(cvtest::centsBetween(f.hz, 440.0)), 0.1);
        EXPECT_GT(f.confidence, 0.99);
        EXPECT_EQ(f.flags, 0);
    }
}

TEST(PYinTracking, SilenceAndNoiseAreUnvoiced) {
    {
        SCOPED_TRACE("silence");
        const np::PitchTrack t = track(cvtest::silence(48000));
        ASSERT_EQ(t.frames.size(), 180u);
        for (const auto& f : t.frames) {
            EXPECT_FALSE(f.voiced);
            EXPECT_EQ(f.hz, 0.0);
            EXPECT_EQ(f.confidence, 0.0);
        }
    }
    {
        SCOPED_TRACE("white noise");
        const np::PitchTrack t = track(cvtest::noise(96000, 0.5f, 17));
        int voiced = 0;
        for (const auto& f : t.frames)
            voiced += f.voiced ? 1 : 0;
        EXPECT_LE(voiced, static_cast<int>(t.frames.size()) / 20);
    }
    {
        SCOPED_TRACE("a tone between silences");
        auto x = cvtest::silence(144000);
        cvtest::mixInto(x, cvtest::harmonicTone(300.0, kRate, 48000), 48000);
        const np::PitchTrack t = track(x);
        for (std::size_t i = 0; i < t.frames.size(); ++i) {
            const std::int64_t start = static_cast<std::int64_t>(i) * 256;
            if (start + 2048 <= 48000 || start >= 96000) {
                EXPECT_FALSE(t.frames[i].voiced) << i;
            } else if (start >= 48000 + 2048 && start + 2048 <= 96000 - 2048) {
                EXPECT_TRUE(t.frames[i].voiced) << i;
            }
        }
    }
}

TEST(PYinTracking, ResistsOctaveJumpsOnARichTone) {
    // A low tone whose upper harmonics dominate, with its second harmonic boosted, plus noise:
    // the frame-by-frame YIN minimum sometimes lies an octave off; the path must not follow it.
    const std::int64_t n = 96000;
    auto x = cvtest::harmonicTone(110.0, kRate, n, 20, 0.4f);
    cvtest::mixInto(x, cvtest::sine(220.0, kRate, n, 0.25f), 0);
    cvtest::mixInto(x, cvtest::noise(n, 0.05f, 5), 0);
    const np::PitchTrack t = track(x);
    int voiced = 0;
    for (std::size_t i = 0; i < t.frames.size(); ++i) {
        if (!t.frames[i].voiced)
            continue;
        ++voiced;
        EXPECT_LT(std::abs(cvtest::centsBetween(t.frames[i].hz, 110.0)), 50.0) << i;
    }
    EXPECT_GT(voiced, static_cast<int>(t.frames.size()) * 9 / 10);
}

TEST(PYinTracking, NoJumpAllowanceStillFollowsASlowGlide) {
    np::PYinConfig config;
    config.maxJumpCents = 0.0;
    // 600 cents over 2 s is about 1.6 cents per frame: within one 10-cent bin per frame.
    const np::PitchTrack t = track(cvtest::glide(200.0, 283.0, kRate, 96000), config);
    ASSERT_FALSE(t.frames.empty());
    const auto& last = t.frames[t.frames.size() - 5];
    ASSERT_TRUE(last.voiced);
    EXPECT_GT(last.hz, 260.0);
}

TEST(PYinTracking, StoppingAtAnyStageLeavesOnlyTheHeader) {
    const auto x = cvtest::harmonicTone(250.0, kRate, 150000);
    std::vector<float> seen;
    const np::PitchTrack full = track(x, {}, [&](float f) {
        seen.push_back(f);
        return true;
    });
    ASSERT_FALSE(full.frames.empty());
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), 0.0f);
    EXPECT_EQ(seen.back(), 1.0f);
    for (std::size_t i = 1; i < seen.size(); ++i)
        EXPECT_GE(seen[i], seen[i - 1]) << i;

    for (float stopAt : {0.0f, 0.3f, 0.65f, 0.8f, 0.9f, 0.98f, 0.99f}) {
        SCOPED_TRACE(stopAt);
        int calls = 0;
        const np::PitchTrack t = track(x, {}, [&](float f) {
            ++calls;
            return f < stopAt || (stopAt == 0.0f && calls > 1);
        });
        expectHeaderOnly(t, {});
    }
}

TEST(PYinTracking, RefusedInputGivesTheHeaderOnly) {
    np::PYinConfig config;
    config.hop = 128;
    config.frame = 1024;
    const auto x = cvtest::sine(440.0, 44100.0, 1000);
    expectHeaderOnly(np::trackPitchPYin(x.data(), 1000, 44100.0, config, {}), config, 44100.0);
    expectHeaderOnly(np::trackPitchPYin(nullptr, 100000, 44100.0, config, {}), config, 44100.0);
    config.frame = 1000;
    const auto y = cvtest::sine(440.0, 44100.0, 10000);
    expectHeaderOnly(np::trackPitchPYin(y.data(), 10000, 44100.0, config, {}), config, 44100.0);
}
