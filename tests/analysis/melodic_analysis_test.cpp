#include "engine/analysis/analyses.h"
#include "engine/analysis/analysis_plan.h"
#include "tests/support/signals.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr double kRate = 48000.0;

struct SungNote {
    double hz;
    std::int64_t start;
    std::int64_t length;
};

// Harmonic tones with short silences between them, as a plain sung line.
std::vector<float> line(const std::vector<SungNote>& notes, std::int64_t total) {
    std::vector<float> mono = cvtest::silence(total);
    for (const SungNote& n : notes)
        cvtest::mixInto(mono, cvtest::harmonicTone(n.hz, kRate, n.length, 8, 0.3f), n.start);
    return mono;
}

np::AudioBuffer monoBuffer(const std::vector<float>& mono) {
    return np::AudioBuffer::fromInterleaved(mono.data(), 1, static_cast<std::int64_t>(mono.size()));
}

double midiOf(double hz) {
    return 69.0 + 12.0 * std::log2(hz / 440.0);
}

TEST(MelodicAnalysis, FindsEachNoteOfASungLine) {
    const std::vector<SungNote> sung{
        {220.0, 4800, 14400}, {261.63, 21600, 14400}, {329.63, 38400, 19200}, {196.0, 60000, 14400}};
    const np::AnalysisResult result = np::analyzeMelodic(monoBuffer(line(sung, 86400)), kRate, {}, {});
    ASSERT_FALSE(result.cancelled);
    EXPECT_EQ(result.track.hop, 256u);
    EXPECT_FALSE(result.track.frames.empty());
    ASSERT_EQ(result.notes.size(), sung.size());
    for (std::size_t i = 0; i < sung.size(); ++i) {
        SCOPED_TRACE(i);
        const np::NoteEvent& note = result.notes[i];
        // Tolerances: 20 cents of pitch and 30 ms of start, what an editor user would notice.
        EXPECT_NEAR(note.pitch, midiOf(sung[i].hz), 0.2);
        EXPECT_NEAR(static_cast<double>(note.start), static_cast<double>(sung[i].start), 0.03 * kRate);
        EXPECT_TRUE(note.pitched);
        EXPECT_GT(note.pitchConfidence, 0.8f);
    }
    EXPECT_LT(result.polyphonyScore, np::kPolyphonyWarningScore);
}

TEST(MelodicAnalysis, ChordsRaiseTheSeveralVoicesScore) {
    // A major third and a tritone above: neither is a near-harmonic submultiple of the other.
    std::vector<float> chord = cvtest::harmonicTone(220.0, kRate, 48000, 8, 0.2f);
    cvtest::mixInto(chord, cvtest::harmonicTone(277.18, kRate, 48000, 8, 0.2f), 0);
    cvtest::mixInto(chord, cvtest::harmonicTone(311.13, kRate, 48000, 8, 0.2f), 0);
    const float chordScore = np::analyzeMelodic(monoBuffer(chord), kRate, {}, {}).polyphonyScore;
    const float silentScore =
        np::analyzeMelodic(monoBuffer(cvtest::silence(48000)), kRate, {}, {}).polyphonyScore;
    EXPECT_GT(chordScore, np::kPolyphonyWarningScore);
    EXPECT_EQ(silentScore, 0.0f);
}

TEST(MelodicAnalysis, AudioShorterThanOnePitchFrameGivesNoNotes) {
    const np::AnalysisMemoryPlan plan = np::planMelodicAnalysisMemory(1, 1000, kRate, {});
    ASSERT_TRUE(plan.ok);
    EXPECT_EQ(plan.pitchFrameBytes + plan.pitchTrackerBytes + plan.onsetBytes + plan.noteBytes, 0u);
    EXPECT_EQ(plan.totalBytes, 4000u);
    const np::AnalysisResult result =
        np::analyzeMelodic(monoBuffer(cvtest::sine(440.0, kRate, 1000)), kRate, {}, {});
    EXPECT_FALSE(result.cancelled);
    EXPECT_TRUE(result.track.frames.empty());
    EXPECT_TRUE(result.notes.empty());
}

TEST(MelodicAnalysis, PlanCoversTheLongestTakeOfMonoOnly) {
    const np::AnalysisMemoryPlan longest = np::planMelodicAnalysisMemory(1, 57600000, kRate, {});
    ASSERT_TRUE(longest.ok);
    EXPECT_EQ(longest.pitchFrameBytes, ((57600000u - 2048) / 256 + 1) * 320) << "one record per pitch frame";
    EXPECT_EQ(longest.totalBytes, longest.audioBytes + longest.monoBytes + longest.pitchFrameBytes +
                                      longest.pitchTrackerBytes + longest.onsetBytes + longest.noteBytes);
    EXPECT_FALSE(np::planMelodicAnalysisMemory(1, 57604800, kRate, {}).ok);
    const np::AnalysisMemoryPlan stereo = np::planMelodicAnalysisMemory(2, 57600000, kRate, {});
    EXPECT_FALSE(stereo.ok) << "20 minutes of stereo at 48 kHz exceed the working set";
    EXPECT_GT(stereo.totalBytes, np::kAnalysisWorkingSetBytes);
}

TEST(MelodicAnalysis, CancelAtAnyReportGivesACancelledResult) {
    const np::AudioBuffer audio = monoBuffer(line({{220.0, 4800, 14400}, {330.0, 24000, 14400}}, 48000));
    std::vector<float> fractions;
    np::analyzeMelodic(audio, kRate, {}, [&](float f) {
        fractions.push_back(f);
        return true;
    });
    ASSERT_GT(fractions.size(), 8u);
    EXPECT_EQ(fractions.back(), 1.0f);
    for (std::size_t i = 1; i < fractions.size(); ++i)
        EXPECT_GE(fractions[i], fractions[i - 1]) << "progress never goes back";
    for (std::size_t stopAt = 0; stopAt < fractions.size(); ++stopAt) {
        SCOPED_TRACE(stopAt);
        std::size_t asked = 0;
        const np::AnalysisResult r =
            np::analyzeMelodic(audio, kRate, {}, [&](float) { return asked++ != stopAt; });
        EXPECT_TRUE(r.cancelled);
        EXPECT_TRUE(r.notes.empty());
        EXPECT_TRUE(r.track.frames.empty());
        EXPECT_EQ(r.polyphonyScore, 0.0f);
    }
}

} // namespace
