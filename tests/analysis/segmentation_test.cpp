#include "engine/analysis/pyin_observation.h"
#include "engine/analysis/segmentation.h"
#include "tests/analysis/analysis_test_support.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using cvtest::makeTake;
using cvtest::Take;

constexpr std::int64_t kHop = 256;

std::vector<np::NoteEvent> segment(const Take& take, const std::vector<std::int64_t>& onsets = {},
                                   const std::function<bool()>& keepGoing = {}) {
    return np::segmentNotes(take.track, take.mono.data(), static_cast<std::int64_t>(take.mono.size()), onsets,
                            np::SegmenterConfig{}, keepGoing);
}

TEST(Segmentation, CutsALegatoLineAtAPitchStepAndAtALevelDip) {
    struct Case {
        const char* name;
        Take take;
        double secondHz;
        std::int64_t cutFromHop, cutToHop;
    };
    // The smoothing medians reach two frames either side of a step; the 2048-sample level window spans
    // eight hops, so the 16-hop dip is seen whole.
    const Case cases[] = {
        {"whole-tone step", makeTake({{100, 220.0}, {100, 246.94}}), 246.94, 97, 103},
        // Pieces under 0.45 s are cut by the step alone, without the plateau split.
        {"semitone step up", makeTake({{40, 220.0}, {40, 233.08}}), 233.08, 37, 43},
        {"semitone step down", makeTake({{40, 220.0}, {40, 207.65}}), 207.65, 37, 43},
        {"level dip", makeTake({{100, 220.0, 0.5f}, {16, 220.0, 0.01f}, {100, 220.0, 0.5f}}), 220.0, 92, 116},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto notes = segment(c.take);
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_NEAR(notes[0].pitch, np::midiFromHz(220.0), 0.01);
        EXPECT_NEAR(notes[1].pitch, np::midiFromHz(c.secondHz), 0.01);
        EXPECT_GE(notes[1].start, c.cutFromHop * kHop);
        EXPECT_LE(notes[1].start, c.cutToHop * kHop);
        EXPECT_EQ(notes[0].end, notes[1].start);
        for (const auto& note : notes) {
            EXPECT_TRUE(note.pitched);
            EXPECT_EQ(note.pitchCurve.size(), note.levelCurve.size());
            EXPECT_EQ(static_cast<std::int64_t>(note.pitchCurve.size()), (note.end - note.start) / kHop);
        }
    }
}

TEST(Segmentation, VibratoOfFortyCentsStaysOneNote) {
    std::vector<cvtest::Stretch> stretches;
    for (int h = 0; h < 300; ++h)
        stretches.push_back(
            {1, 330.0 * std::pow(2.0, 40.0 * std::sin(2.0 * std::numbers::pi * 5.5 * h * kHop / 48000.0) /
                                          1200.0)});
    const auto notes = segment(makeTake(stretches));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NEAR(notes[0].pitch, np::midiFromHz(330.0), 0.4);
    const auto [lo, hi] = std::minmax_element(notes[0].pitchCurve.begin(), notes[0].pitchCurve.end());
    EXPECT_GT(*hi - *lo, 60.0f) << "the vibrato stays visible in the cents curve";
}

// A glide too slow for the step test between two held pitches is split halfway, up or down.
TEST(Segmentation, HeldPitchesJoinedByASlowGlideAreSplit) {
    for (const double to : {330.0, 165.0}) {
        SCOPED_TRACE(to);
        const auto notes = segment(makeTake({{60, 220.0}, {60, 220.0, 0.5f, 0.9, to}, {60, to}}));
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_NEAR(notes[0].pitch, np::midiFromHz(220.0), 0.1);
        EXPECT_NEAR(notes[1].pitch, np::midiFromHz(to), 0.1);
        EXPECT_NEAR(static_cast<double>(notes[1].start), 90.0 * kHop, 10.0 * kHop);
    }
}

TEST(Segmentation, UnvoicedGapsUpToTheLimitAreBridged) {
    for (const auto& [gapHops, notes] :
         {std::pair{1, 1u}, std::pair{2, 1u}, std::pair{3, 2u}, std::pair{8, 2u}}) {
        SCOPED_TRACE(testing::Message() << gapHops << " unvoiced hops");
        EXPECT_EQ(segment(makeTake({{60, 262.0}, {gapHops, 0.0}, {60, 262.0}})).size(), notes);
    }
}

TEST(Segmentation, ConfidenceIsTheMeanOfVoicedHopsAndGapsAreInterpolated) {
    const auto notes = segment(makeTake({{30, 262.0, 0.5f, 0.6}, {2, 0.0}, {30, 262.0 * 1.01, 0.5f, 0.8}}));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NEAR(notes[0].pitchConfidence, 0.7f, 1e-5f);
    // The unvoiced hops lie between -8.6 and +8.6 cents: interpolated, neither zero nor NaN.
    const auto& cents = notes[0].pitchCurve;
    EXPECT_GT(cents[31], cents[30]);
    EXPECT_LT(cents[31], cents[32]);
}

TEST(Segmentation, QuietNotesAreDroppedAndShortRunsKept) {
    EXPECT_TRUE(segment(makeTake({{80, 262.0, 0.0005f}})).empty()) << "below -60 dBFS";
    // A run shorter than the shortest piece has no interior cut to remove, so it stays a note.
    const auto notes = segment(makeTake({{20, 0.0, 0.0f}, {5, 262.0}, {20, 0.0, 0.0f}}));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].start, 20 * kHop);
    EXPECT_EQ(notes[0].end, 25 * kHop);
}

TEST(Segmentation, SlowGlideCurveIsClampedToFourOctaves) {
    // A long steady start, then a glide too slow to be cut: the median sits early, so the glide's far
    // end lies more than 4800 cents above it.
    const auto notes = segment(makeTake({{500, 50.0}, {700, 50.0, 0.5f, 0.9, 1800.0}}));
    ASSERT_EQ(notes.size(), 1u);
    const auto [lo, hi] = std::minmax_element(notes[0].pitchCurve.begin(), notes[0].pitchCurve.end());
    EXPECT_EQ(*hi, np::kMaxNoteCurveCents);
    EXPECT_GE(*lo, -np::kMaxNoteCurveCents);
}

TEST(Segmentation, OnsetsSplitRunsAndSnapStartsWithoutOverlap) {
    auto notes = segment(makeTake({{200, 262.0}}), {100 * kHop});
    ASSERT_EQ(notes.size(), 2u) << "an onset inside a held note cuts it there";
    EXPECT_EQ(notes[1].start, 100 * kHop);

    notes = segment(makeTake({{40, 0.0, 0.0f}, {60, 262.0}}), {37 * kHop});
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].start, 37 * kHop) << "a start near an onset moves onto it";

    notes = segment(makeTake({{100, 262.0}, {3, 0.0}, {100, 294.0}}), {99 * kHop});
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].end, 100 * kHop);
    EXPECT_EQ(notes[1].start, notes[0].end) << "the snap stops at the end of the previous note";
}

// A cut that would leave a piece shorter than the shortest note (60 ms, 11 hops at any rate) is
// dropped: the short piece stays with its neighbour, at the start, in the middle and at the end of a
// phrase. The medians see a step one hop before it.
TEST(Segmentation, NoPieceShorterThanTheShortestNote) {
    struct Case {
        const char* name;
        std::vector<cvtest::Stretch> stretches;
        std::vector<std::int64_t> ends; // of the notes, in hops
    };
    const Case cases[] = {
        {"a step 5 hops before the end", {{100, 220.0}, {5, 246.94}}, {105}},
        {"a step 5 hops after the start", {{5, 246.94}, {100, 220.0}}, {105}},
        {"two steps 6 hops apart", {{60, 220.0}, {6, 246.94}, {60, 277.18}}, {59, 126}},
        {"a step 12 hops before the end", {{100, 220.0}, {12, 246.94}}, {99, 112}},
    };
    for (const double rate : {48000.0, 96000.0}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << " at " << rate << " Hz");
            const Take take = makeTake(c.stretches, rate);
            const std::int64_t hop = take.track.hop;
            std::vector<std::int64_t> ends;
            for (const np::NoteEvent& note : segment(take))
                ends.push_back((note.end + hop / 2) / hop);
            EXPECT_EQ(ends, c.ends);
        }
    }
}

TEST(Segmentation, StopsAtEveryCheck) {
    const Take take = makeTake({{100, 220.0}, {100, 246.94}, {5, 0.0}, {120, 262.0}});
    const int checks = cvtest::stopAtEveryCheck([&](auto keepGoing) { return segment(take, {}, keepGoing); },
                                                [](const auto& notes, int) { EXPECT_TRUE(notes.empty()); });
    // 325 frames in two runs: every 64 frames of the level, pitch and smoothing passes, once per run,
    // piece and note and every 64 frames inside each; counted once from the code and kept.
    EXPECT_EQ(checks, 41);
}

} // namespace
