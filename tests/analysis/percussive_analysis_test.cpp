#include "engine/analysis/analyses.h"
#include "tests/support/signals.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr double kRate = 48000.0;

std::vector<float> hit(std::uint32_t seed, std::int64_t length = 9600) {
    std::vector<float> burst = cvtest::noise(length, 0.7f, seed);
    for (std::size_t i = 0; i < burst.size(); ++i)
        burst[i] *= static_cast<float>(std::exp(-static_cast<double>(i) / (0.04 * kRate)));
    return burst;
}

np::AudioBuffer monoBuffer(const std::vector<float>& mono) {
    return np::AudioBuffer::fromInterleaved(mono.data(), 1, static_cast<std::int64_t>(mono.size()));
}

TEST(PercussiveAnalysis, CutsHitsIntoUnpitchedEvents) {
    std::vector<float> mono = cvtest::silence(static_cast<std::int64_t>(2 * kRate));
    const std::vector<std::int64_t> starts{12000, 36000, 60000, 84000};
    for (std::size_t i = 0; i < starts.size(); ++i)
        cvtest::mixInto(mono, hit(static_cast<std::uint32_t>(i + 1)), starts[i]);
    const np::AnalysisResult result = np::analyzePercussive(monoBuffer(mono), kRate, {}, {});

    ASSERT_FALSE(result.cancelled);
    EXPECT_EQ(result.sampleRate, kRate);
    EXPECT_EQ(result.track.hop, 256u);
    EXPECT_EQ(result.track.frame, 1024u);
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

TEST(PercussiveAnalysis, LoudLeadInBeforeALateFirstOnsetBecomesAnEvent) {
    std::vector<float> mono = cvtest::noise(static_cast<std::int64_t>(kRate), 0.02f, 9);
    cvtest::mixInto(mono, hit(3), 4800); // 100 ms in: past the 50 ms lead-in allowance
    const np::AnalysisResult result = np::analyzePercussive(monoBuffer(mono), kRate, {}, {});
    ASSERT_EQ(result.onsets.size(), 1u);
    ASSERT_EQ(result.notes.size(), 2u);
    EXPECT_EQ(result.notes[0].start, 0);
    EXPECT_EQ(result.notes[1].start, result.onsets[0]);
}

TEST(PercussiveAnalysis, StereoIsAnalysedAsItsMixdown) {
    std::vector<float> mono = cvtest::silence(static_cast<std::int64_t>(kRate));
    cvtest::mixInto(mono, hit(1), 12000);
    std::vector<float> interleaved;
    for (float s : mono) {
        interleaved.push_back(s);
        interleaved.push_back(s);
    }
    const auto stereo =
        np::AudioBuffer::fromInterleaved(interleaved.data(), 2, static_cast<std::int64_t>(mono.size()));
    const np::AnalysisResult a = np::analyzePercussive(stereo, kRate, {}, {});
    const np::AnalysisResult b = np::analyzePercussive(monoBuffer(mono), kRate, {}, {});
    EXPECT_EQ(a.onsets, b.onsets);
    ASSERT_EQ(a.notes.size(), b.notes.size());
}

TEST(PercussiveAnalysis, EmptyAudioAndCancellation) {
    const np::AnalysisResult empty = np::analyzePercussive(np::AudioBuffer{}, 44100.0, {}, {});
    EXPECT_FALSE(empty.cancelled);
    EXPECT_EQ(empty.sampleRate, 44100.0);
    EXPECT_TRUE(empty.notes.empty());

    std::vector<float> mono = cvtest::silence(static_cast<std::int64_t>(kRate));
    cvtest::mixInto(mono, hit(1), 12000);
    const np::AudioBuffer audio = monoBuffer(mono);
    int total = 0;
    np::analyzePercussive(audio, kRate, {}, [&](float) { return ++total > 0; });
    for (int stopAt = 0; stopAt < total; ++stopAt) {
        SCOPED_TRACE(stopAt);
        int asked = 0;
        const np::AnalysisResult r =
            np::analyzePercussive(audio, kRate, {}, [&](float) { return asked++ != stopAt; });
        EXPECT_TRUE(r.cancelled);
        EXPECT_EQ(r.sampleRate, kRate);
        EXPECT_TRUE(r.notes.empty());
        EXPECT_TRUE(r.onsets.empty());
        EXPECT_EQ(r.track.hop, 256u);
    }
}

} // namespace
