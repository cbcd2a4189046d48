#include "engine/analysis/octave_correction.h"
#include "engine/analysis/sibilance.h"
#include "tests/analysis/analysis_test_support.h"
#include "tests/support/signals.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kHop = 256;

bool sibilant(const np::PitchFrame& frame) {
    return (frame.flags & np::PitchFrame::kSibilant) != 0;
}

// A sung vowel with a noise burst written over hops [from, from + hops), whose frames are unvoiced.
cvtest::Take vowelWithBurst(std::int64_t from, std::int64_t hops, double burstConfidence = 0.0) {
    cvtest::Take take = cvtest::makeTake({{200, 220.0, 0.3f}});
    std::vector<float> burst = cvtest::noise(hops * kHop, 0.4f, 5);
    std::copy(burst.begin(), burst.end(), take.mono.begin() + from * kHop);
    for (std::int64_t h = from; h < from + hops; ++h) {
        take.track.frames[static_cast<std::size_t>(h)].voiced = burstConfidence > 0.0;
        take.track.frames[static_cast<std::size_t>(h)].confidence = burstConfidence;
    }
    return take;
}

bool classify(cvtest::Take& take, const std::function<bool()>& keepGoing = {}) {
    return np::classifySibilance(take.mono.data(), static_cast<std::int64_t>(take.mono.size()), 48000.0,
                                 take.track, np::SibilanceConfig{}, keepGoing);
}

TEST(Sibilance, MarksNoiseBurstsAndLeavesTheVowelAlone) {
    cvtest::Take take = vowelWithBurst(80, 12);
    take.track.frames[3].flags = np::PitchFrame::kSibilant; // a stale mark is cleared
    ASSERT_TRUE(classify(take));
    for (std::int64_t h = 0; h < 200; ++h) {
        SCOPED_TRACE(h);
        EXPECT_EQ(sibilant(take.track.frames[static_cast<std::size_t>(h)]), h >= 80 && h < 92);
    }
}

TEST(Sibilance, ShortBurstsAndConfidentVowelsAreNotMarked) {
    {
        SCOPED_TRACE("two hops: under the 15 ms minimum run");
        cvtest::Take take = vowelWithBurst(80, 2);
        ASSERT_TRUE(classify(take));
        for (const auto& frame : take.track.frames)
            EXPECT_FALSE(sibilant(frame));
    }
    {
        SCOPED_TRACE("bright but confidently voiced");
        cvtest::Take take = vowelWithBurst(80, 12, 0.9);
        ASSERT_TRUE(classify(take));
        for (const auto& frame : take.track.frames)
            EXPECT_FALSE(sibilant(frame));
    }
    {
        SCOPED_TRACE("too quiet");
        cvtest::Take take = vowelWithBurst(80, 12);
        for (float& s : take.mono)
            s *= 0.001f;
        ASSERT_TRUE(classify(take));
        for (const auto& frame : take.track.frames)
            EXPECT_FALSE(sibilant(frame));
    }
}

TEST(Sibilance, OneHopGapInsideABurstIsBridged) {
    cvtest::Take take = vowelWithBurst(80, 12);
    // A confidently voiced hop in the middle cannot qualify by itself; the bridge fills it.
    take.track.frames[86].voiced = true;
    take.track.frames[86].confidence = 0.95;
    ASSERT_TRUE(classify(take));
    EXPECT_TRUE(sibilant(take.track.frames[86]));
}

TEST(Sibilance, StopsWhenAsked) {
    cvtest::Take take = vowelWithBurst(80, 12);
    EXPECT_FALSE(classify(take, [] { return false; }));
    int asked = 0;
    EXPECT_FALSE(classify(take, [&] { return ++asked < 3; }));
}

np::NoteEvent note(double pitch, std::int64_t start, std::int64_t end) {
    np::NoteEvent n;
    n.pitch = pitch;
    n.start = start;
    n.end = end;
    n.pitched = true;
    return n;
}

// Three or fewer notes in a track of 100 voiced frames at 100 Hz.
struct OctaveCase {
    const char* name;
    std::vector<double> pitches;
    std::int64_t gapBeforeLast = 4800; // samples
    std::vector<double> expected;
};

TEST(OctaveCorrection, LiftsNotesAnOctaveBelowTheirNeighbours) {
    const OctaveCase cases[] = {
        {"dip between equals", {60, 48, 60}, 4800, {60, 60, 60}},
        {"next note only a tone above", {60, 48, 50}, 4800, {60, 48, 50}},
        {"next note too far away", {60, 48, 60}, 38400, {60, 48, 60}},
        {"first of two", {48, 60}, 4800, {60, 60}},
        {"last of two", {60, 48}, 4800, {60, 60}},
        {"exactly 9.5 below", {60, 50.5, 60}, 4800, {60, 62.5, 60}},
        {"exactly 14.5 below", {60, 45.5, 60}, 4800, {60, 57.5, 60}},
        {"9.49 below", {60, 50.51, 60}, 4800, {60, 50.51, 60}},
    };
    for (const OctaveCase& c : cases) {
        SCOPED_TRACE(c.name);
        np::PitchTrack track;
        track.frames.assign(400, np::PitchFrame{100.0, 0.9, true, 0});
        std::vector<np::NoteEvent> notes;
        std::int64_t at = 0;
        for (std::size_t i = 0; i < c.pitches.size(); ++i) {
            if (i > 0)
                at += i + 1 == c.pitches.size() ? c.gapBeforeLast : 4800;
            notes.push_back(note(c.pitches[i], at, at + 9600));
            at += 9600;
        }
        ASSERT_TRUE(np::correctOctaveErrors(notes, track, {}));
        for (std::size_t i = 0; i < notes.size(); ++i) {
            EXPECT_DOUBLE_EQ(notes[i].pitch, c.expected[i]) << "note " << i;
            const bool lifted = notes[i].pitch != c.pitches[i];
            const auto firstFrame = static_cast<std::size_t>(notes[i].start / kHop);
            EXPECT_DOUBLE_EQ(track.frames[firstFrame].hz, lifted ? 200.0 : 100.0) << "note " << i;
        }
    }
}

TEST(OctaveCorrection, OnlyVoicedFramesUnderTheNoteMove) {
    np::PitchTrack track;
    track.frames.assign(100, np::PitchFrame{100.0, 0.9, true, 0});
    track.frames[45] = np::PitchFrame{};
    std::vector<np::NoteEvent> notes{note(48, 40 * kHop, 50 * kHop), note(60, 55 * kHop, 70 * kHop)};
    ASSERT_TRUE(np::correctOctaveErrors(notes, track, {}));
    EXPECT_DOUBLE_EQ(track.frames[39].hz, 100.0);
    EXPECT_DOUBLE_EQ(track.frames[40].hz, 200.0);
    EXPECT_DOUBLE_EQ(track.frames[49].hz, 200.0);
    EXPECT_DOUBLE_EQ(track.frames[50].hz, 100.0);
    EXPECT_DOUBLE_EQ(track.frames[45].hz, 0.0);
    EXPECT_FALSE(np::correctOctaveErrors(notes, track, [] { return false; }));
}

} // namespace
