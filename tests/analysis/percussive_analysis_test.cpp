#include "engine/analysis/analyses.h"
#include "tests/analysis/analysis_test_support.h"
#include "tests/support/signals.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr double kRate = 48000.0;

// mono (silence by default) with 200 ms noise hits under a 40 ms decay at each start.
std::vector<float> hits(std::int64_t frames, const std::vector<std::int64_t>& starts,
                        std::vector<float> mono = {}, double rate = kRate) {
    mono.resize(static_cast<std::size_t>(frames), 0.0f);
    for (std::size_t i = 0; i < starts.size(); ++i)
        cvtest::mixInto(
            mono, cvtest::hit(std::lround(0.2 * rate), 0.7f, 0.04, rate, static_cast<std::uint32_t>(i + 1)),
            starts[i]);
    return mono;
}

np::AnalysisResult analyse(const std::vector<float>& mono, double rate = kRate) {
    const auto audio =
        np::AudioBuffer::fromInterleaved(mono.data(), 1, static_cast<std::int64_t>(mono.size()));
    return np::analyzePercussive(audio, rate, {}, {});
}

TEST(PercussiveAnalysis, CutsHitsIntoUnpitchedEvents) {
    const std::vector<std::int64_t> starts{12000, 36000, 60000, 84000};
    const np::AnalysisResult result = analyse(hits(96000, starts));
    ASSERT_FALSE(result.cancelled);
    EXPECT_EQ(result.sampleRate, kRate);
    EXPECT_TRUE(result.track.frames.empty());
    ASSERT_EQ(result.onsets.size(), starts.size());
    ASSERT_EQ(result.notes.size(), starts.size()) << "the silent lead-in gives no event";
    for (std::size_t i = 0; i < starts.size(); ++i) {
        SCOPED_TRACE(i);
        const np::NoteEvent& event = result.notes[i];
        EXPECT_EQ(event.start, result.onsets[i]);
        EXPECT_FALSE(event.pitched);
        EXPECT_EQ(event.pitch, 60.0);
        EXPECT_EQ(event.pitchConfidence, 0.0f);
        EXPECT_EQ(event.levelCurve.size(), event.pitchCurve.size());
        EXPECT_EQ(static_cast<std::int64_t>(event.levelCurve.size()), (event.end - event.start + 255) / 256);
        // The silent tail after each decay is left out of the event.
        EXPECT_LT(event.end, i + 1 < starts.size() ? result.onsets[i + 1] : 96000);
    }
}

// A hit that stays loud for 20 hops and then stops dead: its event ends with the last loud block.
TEST(PercussiveAnalysis, AnEventEndsWhereItsHitFallsSilent) {
    std::vector<float> mono = cvtest::silence(48000);
    cvtest::mixInto(mono, cvtest::noise(20 * 256, 0.5f, 3), 100 * 256);
    const np::AnalysisResult result = analyse(mono);
    ASSERT_EQ(result.notes.size(), 1u);
    EXPECT_EQ(result.notes[0].end, 120 * 256);
}

TEST(PercussiveAnalysis, LoudLeadInBeforeALateFirstOnsetBecomesAnEvent) {
    // A hit 100 ms in has its onset past the 50 ms lead-in allowance; one 55 ms in has it three hops
    // earlier, inside the allowance.
    for (const auto& [rate, hitSeconds, events] :
         {std::tuple{kRate, 0.1, 2u}, std::tuple{2 * kRate, 0.1, 2u}, std::tuple{2 * kRate, 0.055, 1u}}) {
        SCOPED_TRACE(testing::Message() << "hit at " << hitSeconds << " s at " << rate << " Hz");
        const auto frames = static_cast<std::int64_t>(rate);
        const np::AnalysisResult result = analyse(
            hits(frames, {std::lround(hitSeconds * rate)}, cvtest::noise(frames, 0.02f, 9), rate), rate);
        ASSERT_EQ(result.onsets.size(), 1u);
        ASSERT_EQ(result.notes.size(), events);
        EXPECT_EQ(result.notes[0].start, events == 2 ? 0 : result.onsets[0]);
        EXPECT_EQ(result.notes.back().start, result.onsets[0]);
    }
}

TEST(PercussiveAnalysis, StereoIsAnalysedAsItsMixdown) {
    // The hit is in the right channel only.
    const std::vector<float> right = hits(48000, {12000});
    np::AudioBuffer stereo;
    stereo.resize(2, 48000);
    std::copy(right.begin(), right.end(), stereo.channel(1).begin());
    const np::AnalysisResult result = np::analyzePercussive(stereo, kRate, {}, {});
    ASSERT_EQ(result.onsets.size(), 1u);
    EXPECT_EQ(result.onsets, analyse(right).onsets);
}

TEST(PercussiveAnalysis, EmptyAudioAndCancellation) {
    const np::AnalysisResult empty = np::analyzePercussive(np::AudioBuffer{}, 44100.0, {}, {});
    EXPECT_FALSE(empty.cancelled);
    EXPECT_EQ(empty.sampleRate, 44100.0);
    EXPECT_TRUE(empty.notes.empty());

    const std::vector<float> mono = hits(48000, {12000});
    const auto audio = np::AudioBuffer::fromInterleaved(mono.data(), 1, 48000);
    const int checks = cvtest::stopAtEveryCheck(
        [&](auto keepGoing) { return np::analyzePercussive(audio, kRate, {}, keepGoing); },
        [](const np::AnalysisResult& r, int) {
            EXPECT_TRUE(r.cancelled);
            EXPECT_EQ(r.sampleRate, kRate);
            EXPECT_TRUE(r.notes.empty() && r.onsets.empty());
        });
    // Onset detection's 15, one after it, one per 32 boundary pairs, one per 64 blocks of the silent
    // lead-in (1) and of the hit (3), and 1.0 at the end.
    EXPECT_EQ(checks, 15 + 1 + 1 + 4 + 1);
}

} // namespace
