#include "engine/analysis/analyses.h"
#include "engine/analysis/analysis_plan.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>

namespace {

const char* const kGenericRefusal =
    "Audio cannot be analyzed safely. Check its duration, channel count, sample rate, and analysis settings.";

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

        np::AnalysisConfig percussive;
        ASSERT_TRUE(np::scaledPercussiveConfig(c.rate, np::AnalysisConfig{}, percussive));
        EXPECT_EQ(percussive.onset.frame, c.onsetFrame);
        EXPECT_EQ(percussive.pyin.frame, 2048u) << "pitch settings untouched";
    }
}

TEST(AnalysisPlan, ScalingRefusesOutOfBoundSettings) {
    struct Case {
        const char* name;
        double rate;
        void (*change)(np::AnalysisConfig&);
    };
    const Case cases[] = {
        {"rate below 8 kHz", 7000.0, [](np::AnalysisConfig&) {}},
        {"rate not finite", std::numeric_limits<double>::infinity(), [](np::AnalysisConfig&) {}},
        {"zero onset hop", 48000.0, [](np::AnalysisConfig& c) { c.onset.hop = 0; }},
        {"negative threshold", 48000.0, [](np::AnalysisConfig& c) { c.onset.thresholdRatio = -1.0; }},
        {"median window too long", 48000.0,
         [](np::AnalysisConfig& c) { c.onset.medianWindowSeconds = 1201.0; }},
        {"NaN split", 48000.0, [](np::AnalysisConfig& c) { c.segmenter.splitCents = std::nan(""); }},
        {"negative gap frames", 48000.0, [](np::AnalysisConfig& c) { c.segmenter.maxGapFrames = -1; }},
        {"infinite silence", 48000.0,
         [](np::AnalysisConfig& c) { c.segmenter.silenceDb = -std::numeric_limits<double>::infinity(); }},
        {"zero pitch hop", 48000.0, [](np::AnalysisConfig& c) { c.pyin.hop = 0; }},
        {"frame beyond the limit", 48000.0, [](np::AnalysisConfig& c) { c.pyin.frame = 4194304 * 2u; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        np::AnalysisConfig config;
        c.change(config);
        np::AnalysisConfig out;
        EXPECT_FALSE(np::scaledAnalysisConfig(c.rate, config, out));
    }
}

TEST(AnalysisPlan, CheckedScaledIntegerRoundsHalfUpAndRaisesToPowersOfTwo) {
    int out = 0;
    ASSERT_TRUE(np::checkedScaledInteger(2048, 0.91875L, 1, true, out));
    EXPECT_EQ(out, 2048);
    ASSERT_TRUE(np::checkedScaledInteger(3, 0.5L, 1, false, out)); // 1.5 rounds up
    EXPECT_EQ(out, 2);
    ASSERT_TRUE(np::checkedScaledInteger(1, 0.5L, 7, false, out));
    EXPECT_EQ(out, 7) << "raised to the minimum";
    EXPECT_FALSE(np::checkedScaledInteger(1, 0.4L, 1, false, out)) << "rounds to zero";
    EXPECT_FALSE(np::checkedScaledInteger(0, 1.0L, 1, false, out));
    EXPECT_FALSE(np::checkedScaledInteger(4194304, 1.5L, 1, false, out));
    EXPECT_FALSE(np::checkedScaledInteger(16, -1.0L, 1, false, out));
}

TEST(AnalysisPlan, PercussivePlanCountsEveryPart) {
    const np::AnalysisMemoryPlan mono = np::planPercussiveAnalysisMemory(1, 48000, 48000.0, {});
    ASSERT_TRUE(mono.ok);
    EXPECT_EQ(mono.audioBytes, 192000u);
    EXPECT_EQ(mono.monoBytes, 0u);
    EXPECT_EQ(mono.onsetBytes, 184u * 16 + 1024u * 128 + 184u * 8); // 184 onset frames
    EXPECT_EQ(mono.noteBytes, 184u * 12 + (183u * 8 + 24) + 184u * 144);
    EXPECT_EQ(mono.totalBytes, 192000u + mono.onsetBytes + mono.noteBytes);
    EXPECT_EQ(mono.pitchFrameBytes + mono.pitchTrackerBytes, 0u);

    const np::AnalysisMemoryPlan stereo = np::planPercussiveAnalysisMemory(2, 48000, 48000.0, {});
    EXPECT_EQ(stereo.audioBytes, 384000u);
    EXPECT_EQ(stereo.monoBytes, 192000u);

    const np::AnalysisMemoryPlan tiny = np::planPercussiveAnalysisMemory(1, 100, 48000.0, {});
    ASSERT_TRUE(tiny.ok);
    EXPECT_EQ(tiny.onsetBytes, 0u);
    EXPECT_EQ(tiny.noteBytes, 16u);
}

TEST(AnalysisPlan, ShapesOutsideTheLimitsAreRefusedBeforeCounting) {
    struct Case {
        const char* name;
        int channels;
        std::int64_t frames;
        double rate;
        bool ok;
    };
    const Case cases[] = {
        {"1200 s mono at 48 kHz", 1, 57600000, 48000.0, true},
        {"1200.1 s", 1, 57604800, 48000.0, false},
        {"three channels", 3, 48000, 48000.0, false},
        {"no channels", 0, 48000, 48000.0, false},
        {"no frames", 1, 0, 48000.0, false},
        {"7 kHz", 1, 48000, 7000.0, false},
        {"above 384 kHz", 1, 48000, 384001.0, false},
        {"more samples than a buffer holds", 2, 67108865, 384000.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const np::AnalysisMemoryPlan plan =
            np::planPercussiveAnalysisMemory(c.channels, c.frames, c.rate, {});
        EXPECT_EQ(plan.ok, c.ok);
        if (!c.ok) {
            EXPECT_EQ(plan.totalBytes, 0u) << "refused before any byte count";
        }
    }
}

TEST(AnalysisPlan, RefusalsTellTheUserWhatToShorten) {
    try {
        np::throwAnalysisWorkingSetError(0);
        FAIL();
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), kGenericRefusal);
    }
    try {
        np::throwAnalysisWorkingSetError(536870913);
        FAIL();
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(),
                     "Analysis needs about 513 MiB. Shorten the audio, convert stereo to mono, or use a "
                     "lower sample rate (512 MiB analysis limit).");
    }
}

TEST(AnalysisPlan, OversizedStereoIsRefusedWithItsSize) {
    // 2^26 stereo frames fill a whole buffer; the mixdown on top exceeds the working set.
    const np::AnalysisMemoryPlan plan = np::planPercussiveAnalysisMemory(2, 67108864, 96000.0, {});
    EXPECT_FALSE(plan.ok);
    EXPECT_GT(plan.totalBytes, np::kAnalysisWorkingSetBytes);
    EXPECT_EQ(plan.monoBytes, 268435456u);
}

TEST(AnalysisPlan, AnalysesRefuseBeforeTakingMemory) {
    np::AudioBuffer audio;
    audio.resize(1, 48000);
    for (auto analyse : {&np::analyzePercussive, &np::analyzeMelodic}) {
        try {
            analyse(audio, 7000.0, {}, {});
            FAIL() << "a 7 kHz rate must be refused";
        } catch (const std::length_error& e) {
            EXPECT_STREQ(e.what(), kGenericRefusal);
        }
    }
}

} // namespace
