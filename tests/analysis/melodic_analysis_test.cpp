#include "engine/analysis/analyses.h"
#include "engine/analysis/analysis_plan.h"
#include "engine/analysis/polyphony.h"
#include "engine/analysis/pyin_observation.h"
#include "tests/analysis/analysis_test_support.h"
#include "tests/support/signals.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

constexpr double kRate = 48000.0;

struct SungNote {
    double hz;
    std::int64_t start;
    std::int64_t length;
};

// Harmonic tones with short silences between them, as a plain sung line.
np::AudioBuffer line(const std::vector<SungNote>& notes, std::int64_t total) {
    std::vector<float> mono = cvtest::silence(total);
    for (const SungNote& n : notes)
        cvtest::mixInto(mono, cvtest::harmonicTone(n.hz, kRate, n.length, 8, 0.3f), n.start);
    return np::AudioBuffer::fromInterleaved(mono.data(), 1, total);
}

TEST(MelodicAnalysis, FindsEachNoteOfASungLine) {
    const std::vector<SungNote> sung{
        {220.0, 4800, 14400}, {261.63, 21600, 14400}, {329.63, 38400, 19200}, {196.0, 60000, 14400}};
    const np::AnalysisResult result = np::analyzeMelodic(line(sung, 86400), kRate, {}, {});
    ASSERT_EQ(result.notes.size(), sung.size());
    for (std::size_t i = 0; i < sung.size(); ++i) {
        SCOPED_TRACE(i);
        const np::NoteEvent& note = result.notes[i];
        // 20 cents of pitch and 30 ms of start: what an editor user would notice.
        EXPECT_NEAR(note.pitch, np::midiFromHz(sung[i].hz), 0.2);
        EXPECT_NEAR(static_cast<double>(note.start), static_cast<double>(sung[i].start), 0.03 * kRate);
        EXPECT_TRUE(note.pitched);
        EXPECT_GT(note.pitchConfidence, 0.8f);
    }
    EXPECT_LT(result.polyphonyScore, np::kPolyphonyWarningScore);
}

TEST(MelodicAnalysis, ChordsRaiseTheSeveralVoicesScore) {
    // A major third and a tritone above: neither is a near-harmonic submultiple of the other.
    const np::AudioBuffer chord = line({{220.0, 0, 48000}, {277.18, 0, 48000}, {311.13, 0, 48000}}, 48000);
    EXPECT_GT(np::analyzeMelodic(chord, kRate, {}, {}).polyphonyScore, np::kPolyphonyWarningScore);
    EXPECT_EQ(np::analyzeMelodic(line({}, 48000), kRate, {}, {}).polyphonyScore, 0.0f);
    // One voice with vibrato: its candidates drift off the exact submultiples, yet within 4 % of each.
    const std::vector<float> solo = cvtest::vowel(220.0, 220.0, 40.0, 5.5, kRate, 96000, 0.3f);
    EXPECT_EQ(np::polyphonyScore(solo.data(), 96000, kRate, {}, {}), 0.0f);

    // 45 windows, four hops apart: a check before every 32nd and one at the end.
    const int checks = cvtest::stopAtEveryCheck(
        [&](auto keepGoing) { return np::polyphonyScore(chord.samples.data(), 48000, kRate, {}, keepGoing); },
        [](const std::optional<float>& score, int) { EXPECT_FALSE(score); });
    EXPECT_EQ(checks, 2 + 1);
}

TEST(MelodicAnalysis, ConstantInputIsNeverPitched) {
    // The difference function of a constant window is zero at every lag; an FFT gives rounding noise
    // instead, which once normalised looked like a confident pitch with several voices.
    for (const float level : {1.0f, -0.5f, 0.03f, 0.001f, 0.0f}) {
        SCOPED_TRACE(level);
        const std::vector<float> mono(96000, level);
        const np::AnalysisResult result =
            np::analyzeMelodic(np::AudioBuffer::fromInterleaved(mono.data(), 1, 96000), kRate, {}, {});
        EXPECT_TRUE(result.notes.empty());
        EXPECT_EQ(result.polyphonyScore, 0.0f);
        ASSERT_EQ(result.track.frames.size(), 368u);
        for (const np::PitchFrame& f : result.track.frames)
            ASSERT_TRUE(!f.voiced && f.hz == 0.0 && f.confidence == 0.0);
    }
}

TEST(MelodicAnalysis, AudioShorterThanOnePitchFrameGivesNoNotes) {
    const np::AnalysisMemoryPlan plan = np::planMelodicAnalysisMemory(1, 1000, kRate, {});
    ASSERT_TRUE(plan.ok);
    EXPECT_EQ(plan.totalBytes, 4000u) << "the audio alone";
    const np::AnalysisResult result = np::analyzeMelodic(line({{440.0, 0, 1000}}, 1000), kRate, {}, {});
    EXPECT_FALSE(result.cancelled);
    EXPECT_TRUE(result.track.frames.empty());
    EXPECT_TRUE(result.notes.empty());
}

} // namespace
