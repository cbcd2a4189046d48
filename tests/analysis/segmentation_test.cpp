#include "engine/analysis/segmentation.h"
#include "tests/analysis/analysis_test_support.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using cvtest::Stretch;
using cvtest::Take;

constexpr std::int64_t kHop = 256;

std::vector<np::NoteEvent> segment(const Take& take, const std::vector<std::int64_t>& onsets = {},
                                   const std::function<bool()>& keepGoing = {}) {
    return np::segmentNotes(take.track, take.mono.data(), static_cast<std::int64_t>(take.mono.size()), onsets,
                            np::SegmenterConfig{}, keepGoing);
}

TEST(Segmentation, LegatoWholeToneStepCutsNearTheStep) {
    const Take take = cvtest::makeTake({{100, 220.0}, {100, 246.94}});
    const auto notes = segment(take);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NEAR(notes[0].pitch, cvtest::midiOf(220.0), 0.01);
    EXPECT_NEAR(notes[1].pitch, cvtest::midiOf(246.94), 0.01);
    // The smoothing medians reach two frames either side of the step.
    EXPECT_NEAR(static_cast<double>(notes[1].start), 100.0 * kHop, 3.0 * kHop);
    EXPECT_EQ(notes[0].end, notes[1].start);
    for (const auto& note : notes) {
        EXPECT_TRUE(note.pitched);
        EXPECT_EQ(note.pitchCurve.size(), note.levelCurve.size());
        EXPECT_EQ(static_cast<std::int64_t>(note.pitchCurve.size()), (note.end - note.start) / kHop);
    }
}

TEST(Segmentation, LevelDipInsideOneVoicedRunCutsTheNote) {
    // The 2048-sample level window spans eight hops, so the dip is long enough to be seen whole.
    const Take take = cvtest::makeTake({{100, 220.0, 0.5f}, {16, 220.0, 0.01f}, {100, 220.0, 0.5f}});
    const auto notes = segment(take);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_GT(notes[1].start, 92 * kHop);
    EXPECT_LT(notes[1].start, 116 * kHop);
}

TEST(Segmentation, VibratoOfFortyCentsStaysOneNote) {
    std::vector<Stretch> stretches;
    for (int h = 0; h < 300; ++h) {
        const double cents = 40.0 * std::sin(2.0 * std::numbers::pi * 5.5 * h * kHop / 48000.0);
        stretches.push_back({1, 330.0 * std::pow(2.0, cents / 1200.0)});
    }
    const auto notes = segment(cvtest::makeTake(stretches));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NEAR(notes[0].pitch, cvtest::midiOf(330.0), 0.4);
    const auto [lo, hi] = std::minmax_element(notes[0].pitchCurve.begin(), notes[0].pitchCurve.end());
    EXPECT_GT(*hi - *lo, 60.0f) << "the vibrato stays visible in the cents curve";
}

TEST(Segmentation, UnvoicedGapsUpToTheLimitAreBridged) {
    struct Case {
        std::int64_t gapHops;
        std::size_t notes;
    };
    for (const Case c : {Case{1, 1}, Case{2, 1}, Case{3, 2}, Case{8, 2}}) {
        SCOPED_TRACE(testing::Message() << c.gapHops << " unvoiced hops");
        const Take take = cvtest::makeTake({{60, 262.0}, {c.gapHops, 0.0}, {60, 262.0}});
        EXPECT_EQ(segment(take).size(), c.notes);
    }
}

TEST(Segmentation, ConfidenceIsTheMeanOfVoicedHopsAndGapsAreFilled) {
    const Take take = cvtest::makeTake({{30, 262.0, 0.5f, 0.6}, {2, 0.0}, {30, 262.0 * 1.01, 0.5f, 0.8}});
    const auto notes = segment(take);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NEAR(notes[0].pitchConfidence, 0.7f, 1e-5f);
    for (float cents : notes[0].pitchCurve)
        ASSERT_FALSE(std::isnan(cents));
    // The two unvoiced hops lie between -8.6 and +8.6 cents: interpolated, not zero-filled.
    EXPECT_GT(notes[0].pitchCurve[31], notes[0].pitchCurve[30]);
    EXPECT_LT(notes[0].pitchCurve[31], notes[0].pitchCurve[32]);
}

TEST(Segmentation, QuietNotesAreDroppedAndShortRunsKept) {
    {
        SCOPED_TRACE("below -60 dBFS");
        EXPECT_TRUE(segment(cvtest::makeTake({{80, 262.0, 0.0005f}})).empty());
    }
    {
        // A run shorter than the shortest piece has no interior cut to remove, so it stays a note.
        SCOPED_TRACE("five voiced hops alone");
        const auto notes = segment(cvtest::makeTake({{20, 0.0, 0.0f}, {5, 262.0}, {20, 0.0, 0.0f}}));
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].start, 20 * kHop);
        EXPECT_EQ(notes[0].end, 25 * kHop);
    }
}

TEST(Segmentation, SlowGlideCurveIsClampedToFourOctaves) {
    // Long steady start, then a glide slow enough never to be cut: the median sits early in the glide,
    // so its far end lies more than 4800 cents above it.
    const Take take = cvtest::makeTake({{500, 50.0}, {700, 50.0, 0.5f, 0.9, 1800.0}});
    const auto notes = segment(take);
    ASSERT_EQ(notes.size(), 1u);
    const auto [lo, hi] = std::minmax_element(notes[0].pitchCurve.begin(), notes[0].pitchCurve.end());
    EXPECT_EQ(*hi, np::kMaxNoteCurveCents);
    EXPECT_GE(*lo, -np::kMaxNoteCurveCents);
}

TEST(Segmentation, OnsetsSplitRunsAndSnapStartsWithoutOverlap) {
    {
        SCOPED_TRACE("an onset inside a held note cuts it there");
        const auto notes = segment(cvtest::makeTake({{200, 262.0}}), {100 * kHop});
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_EQ(notes[1].start, 100 * kHop);
    }
    {
        SCOPED_TRACE("a start near an onset moves onto it");
        const auto notes = segment(cvtest::makeTake({{40, 0.0, 0.0f}, {60, 262.0}}), {37 * kHop});
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].start, 37 * kHop);
    }
    {
        SCOPED_TRACE("the snap stops at the end of the previous note");
        const Take take = cvtest::makeTake({{100, 262.0}, {3, 0.0}, {100, 294.0}});
        const auto notes = segment(take, {99 * kHop});
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_EQ(notes[0].end, 100 * kHop);
        EXPECT_EQ(notes[1].start, notes[0].end);
    }
}

TEST(Segmentation, StoppingAtAnyCheckGivesNothing) {
    const Take take = cvtest::makeTake({{100, 220.0}, {100, 246.94}, {5, 0.0}, {120, 262.0}});
    int total = 0;
    ASSERT_FALSE(segment(take, {}, [&] { return ++total > 0; }).empty());
    for (int stopAt = 0; stopAt < total; ++stopAt) {
        SCOPED_TRACE(stopAt);
        int asked = 0;
        EXPECT_TRUE(segment(take, {}, [&] { return asked++ != stopAt; }).empty());
    }
}

TEST(Segmentation, FrameCountsOfDurations) {
    EXPECT_EQ(np::detail::secondsToFrames(0.06, 48000.0, 256.0), 11);
    EXPECT_EQ(np::detail::secondsToFrames(0.45, 48000.0, 256.0), 84);
    EXPECT_EQ(np::detail::secondsToFrames(0.1, 48000.0, 256.0), 18);
    EXPECT_EQ(np::detail::secondsToFrames(0.001, 48000.0, 256.0), 1) << "never below one frame";
}

} // namespace
