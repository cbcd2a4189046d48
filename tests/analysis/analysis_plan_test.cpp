#include "engine/analysis/analyses.h"
#include "engine/analysis/analysis_plan.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>

namespace {

const std::string kGenericRefusal =
    "Audio cannot be analyzed safely. Check its duration, channel count, sample rate, and analysis settings.";

template <typename F>
std::string lengthErrorOf(F&& f) {
    try {
        f();
    } catch (const std::length_error& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

TEST(AnalysisPlan, SettingsScaleWithTheSampleRate) {
    struct Case {
        double rate;
        std::uint32_t pyinFrame, pyinHop;
        int onsetFrame;
    };
    for (const Case c : {Case{48000.0, 2048, 256, 1024}, Case{44100.0, 2048, 235, 1024},
                         Case{96000.0, 4096, 512, 2048}, Case{8000.0, 512, 64, 256}}) {
        SCOPED_TRACE(c.rate);
        np::AnalysisConfig scaled;
        ASSERT_TRUE(np::scaledAnalysisConfig(c.rate, np::AnalysisConfig{}, scaled));
        EXPECT_EQ(scaled.pyin.frame, c.pyinFrame);
        EXPECT_EQ(scaled.pyin.hop, c.pyinHop);
        EXPECT_EQ(scaled.onset.frame, c.onsetFrame);
        EXPECT_EQ(scaled.onset.hop, static_cast<int>(c.pyinHop)) << "onsets fall on pitch frames";
        ASSERT_TRUE(np::scaledPercussiveConfig(c.rate, np::AnalysisConfig{}, scaled));
        EXPECT_EQ(scaled.onset.frame, c.onsetFrame);
    }

    const auto scaled = [](int value, long double scale, int minimum) {
        int out = 0;
        return np::checkedScaledInteger(value, scale, minimum, false, out) ? out : -1;
    };
    EXPECT_EQ(scaled(3, 0.5L, 1), 2) << "1.5 rounds up";
    EXPECT_EQ(scaled(1, 0.5L, 7), 7) << "raised to the minimum";
    for (const auto& [value, scale] :
         {std::pair{1, 0.4L}, std::pair{0, 1.0L}, std::pair{4194304, 1.5L}, std::pair{16, -1.0L}})
        EXPECT_EQ(scaled(value, scale, 1), -1) << value << " x " << static_cast<double>(scale);
}

TEST(AnalysisPlan, ScalingRefusesOutOfBoundSettings) {
    np::AnalysisConfig out;
    EXPECT_FALSE(np::scaledAnalysisConfig(7000.0, {}, out));
    EXPECT_FALSE(np::scaledAnalysisConfig(std::numeric_limits<double>::infinity(), {}, out));
    const std::function<void(np::AnalysisConfig&)> changes[] = {
        [](auto& c) { c.onset.hop = 0; },
        [](auto& c) { c.onset.thresholdRatio = -1.0; },
        [](auto& c) { c.onset.medianWindowSeconds = 1201.0; },
        [](auto& c) { c.segmenter.splitCents = std::nan(""); },
        [](auto& c) { c.segmenter.maxGapFrames = -1; },
        [](auto& c) { c.segmenter.silenceDb = -std::numeric_limits<double>::infinity(); },
        [](auto& c) { c.pyin.hop = 0; },
        [](auto& c) { c.pyin.frame = 4194304 * 2u; },
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        np::AnalysisConfig config;
        changes[i](config);
        EXPECT_FALSE(np::scaledAnalysisConfig(48000.0, config, out)) << "change " << i;
    }
}

TEST(AnalysisPlan, RefusesShapesOutsideTheLimitsAndWorkBeyondTheWorkingSet) {
    enum Outcome { Accepted, RefusedUncounted, RefusedWithSize };
    struct Case {
        const char* name;
        int channels;
        std::int64_t frames;
        double rate;
        Outcome outcome;
    };
    const Case cases[] = {
        {"1200 s mono at 48 kHz", 1, 57600000, 48000.0, Accepted},
        {"1200.1 s", 1, 57604800, 48000.0, RefusedUncounted},
        {"three channels", 3, 48000, 48000.0, RefusedUncounted},
        {"no channels", 0, 48000, 48000.0, RefusedUncounted},
        {"no frames", 1, 0, 48000.0, RefusedUncounted},
        {"7 kHz", 1, 48000, 7000.0, RefusedUncounted},
        {"above 384 kHz", 1, 48000, 384001.0, RefusedUncounted},
        {"more samples than a buffer holds", 2, 67108865, 384000.0, RefusedUncounted},
        {"20 minutes of stereo at 48 kHz", 2, 57600000, 48000.0, RefusedWithSize},
        {"a full stereo buffer", 2, 67108864, 96000.0, RefusedWithSize},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto plan : {np::planPercussiveAnalysisMemory, np::planMelodicAnalysisMemory}) {
            const np::AnalysisMemoryPlan p = plan(c.channels, c.frames, c.rate, {});
            EXPECT_EQ(p.ok, c.outcome == Accepted);
            EXPECT_EQ(p.totalBytes > np::kAnalysisWorkingSetBytes, c.outcome == RefusedWithSize);
            EXPECT_EQ(p.totalBytes == 0, c.outcome == RefusedUncounted);
        }
    }
    // Every part counts towards the total, and stereo adds its second channel and the mixdown.
    for (const auto plan : {np::planPercussiveAnalysisMemory, np::planMelodicAnalysisMemory}) {
        const np::AnalysisMemoryPlan p = plan(1, 57600000, 48000.0, {});
        EXPECT_EQ(p.totalBytes, p.audioBytes + p.monoBytes + p.pitchFrameBytes + p.pitchTrackerBytes +
                                    p.onsetBytes + p.noteBytes);
        EXPECT_EQ(plan(2, 48000, 48000.0, {}).totalBytes,
                  plan(1, 48000, 48000.0, {}).totalBytes + 2 * 192000u);
    }
}

TEST(AnalysisPlan, RefusalsTellTheUserWhatToShorten) {
    EXPECT_EQ(lengthErrorOf([] { np::throwAnalysisWorkingSetError(0); }), kGenericRefusal);
    EXPECT_EQ(
        lengthErrorOf([] { np::throwAnalysisWorkingSetError(536870913); }),
        "Analysis needs about 513 MiB. Shorten the audio, convert stereo to mono, or use a lower sample "
        "rate (512 MiB analysis limit).");
    np::AudioBuffer audio;
    audio.resize(1, 48000);
    for (auto analyse : {&np::analyzePercussive, &np::analyzeMelodic})
        EXPECT_EQ(lengthErrorOf([&] { analyse(audio, 7000.0, {}, {}); }), kGenericRefusal);
}

} // namespace
