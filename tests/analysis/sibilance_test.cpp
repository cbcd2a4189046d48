#include "engine/analysis/octave_correction.h"
#include "engine/analysis/sibilance.h"
#include "tests/analysis/analysis_test_support.h"
#include "tests/support/signals.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kHop = 256;

TEST(Sibilance, MarksNoiseBurstsLongEnoughAndLeavesTheVowelAlone) {
    struct Case {
        const char* name;
        std::int64_t burstHops;
        double burstConfidence; // above 0: the burst's frames are voiced
        float gain;             // of the whole take
        bool marked;            // hops [80, 80 + burstHops) marked, all others not
        std::int64_t confidentHop = -1;
    };
    const Case cases[] = {
        {"twelve-hop burst", 12, 0.0, 1.0f, true},
        {"one confident hop inside is bridged", 12, 0.0, 1.0f, true, 86},
        {"two hops: under the 15 ms minimum run", 2, 0.0, 1.0f, false},
        {"bright but confidently voiced", 12, 0.9, 1.0f, false},
        {"too quiet", 12, 0.0, 0.001f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A sung vowel with a noise burst written over hops [80, 80 + burstHops).
        cvtest::Take take = cvtest::makeTake({{200, 220.0, 0.3f}});
        const std::vector<float> burst = cvtest::noise(c.burstHops * kHop, 0.4f, 5);
        std::copy(burst.begin(), burst.end(), take.mono.begin() + 80 * kHop);
        for (float& s : take.mono)
            s *= c.gain;
        for (std::int64_t h = 80; h < 80 + c.burstHops; ++h)
            take.track.frames[static_cast<std::size_t>(h)] = {220.0, c.burstConfidence,
                                                              c.burstConfidence > 0.0, 0};
        if (c.confidentHop >= 0)
            take.track.frames[static_cast<std::size_t>(c.confidentHop)] = {220.0, 0.95, true, 0};
        take.track.frames[3].flags = np::PitchFrame::kSibilant; // a stale mark is cleared

        ASSERT_TRUE(np::classifySibilance(take.mono.data(), static_cast<std::int64_t>(take.mono.size()),
                                          48000.0, take.track, {}, {}));
        for (std::int64_t h = 0; h < 200; ++h)
            EXPECT_EQ(take.track.frames[static_cast<std::size_t>(h)].flags == np::PitchFrame::kSibilant,
                      c.marked && h >= 80 && h < 80 + c.burstHops)
                << "hop " << h;
    }
}

// An "sh" (its energy between 3.5 and 4.5 kHz) over a sung tone is marked at any rate, the hop
// scaled to the rate as the analysis scales it.
TEST(Sibilance, MarksAnShAtOtherSampleRates) {
    for (const auto& [rate, hop] : {std::pair{44100.0, 235}, std::pair{96000.0, 512}}) {
        SCOPED_TRACE(rate);
        np::PitchTrack track;
        track.sampleRate = rate;
        track.hop = static_cast<std::uint32_t>(hop);
        track.frames.assign(100, np::PitchFrame{220.0, 0.9, true, 0});
        std::vector<float> mono = cvtest::sine(220.0, rate, 101 * hop, 0.3f);
        std::fill(mono.begin() + 40 * hop, mono.begin() + 52 * hop, 0.0f);
        for (int k = 0; k < 6; ++k)
            cvtest::mixInto(mono, cvtest::sine(3500.0 + 200.0 * k, rate, 12 * hop, 0.1f, k * k), 40 * hop);
        for (int h = 40; h < 52; ++h)
            track.frames[static_cast<std::size_t>(h)] = {};
        ASSERT_TRUE(
            np::classifySibilance(mono.data(), static_cast<std::int64_t>(mono.size()), rate, track, {}, {}));
        for (int h = 0; h < 100; ++h)
            EXPECT_EQ(track.frames[static_cast<std::size_t>(h)].flags == np::PitchFrame::kSibilant,
                      h >= 40 && h < 52)
                << "hop " << h;
    }
}

TEST(Sibilance, StopsAtEveryCheck) {
    const cvtest::Take take = cvtest::makeTake({{200, 220.0}});
    const int checks = cvtest::stopAtEveryCheck(
        [&](auto keepGoing) {
            np::PitchTrack track = take.track;
            return np::classifySibilance(take.mono.data(), static_cast<std::int64_t>(take.mono.size()),
                                         48000.0, track, {}, keepGoing);
        },
        [](bool finished, int) { EXPECT_FALSE(finished); });
    // 200 hops: at the start, every 256 hops while clearing, every 4096 samples of the 200 hops, every
    // 256 hops of the three passes over the hops, and at the end.
    EXPECT_EQ(checks, 1 + 1 + 13 + 1 + 1 + 1 + 1);
}

np::NoteEvent note(double pitch, std::int64_t start, std::int64_t end) {
    return {.start = start, .end = end, .pitch = pitch, .pitchCurve = {}, .levelCurve = {}, .pitched = true};
}

TEST(OctaveCorrection, LiftsNotesAnOctaveBelowTheirNeighbours) {
    struct Case {
        const char* name;
        std::vector<double> pitches; // notes of 9600 samples, 4800 apart
        std::int64_t gapBeforeLast;
        std::vector<double> expected;
        double rate = 48000.0; // 0.7 s is 33600 samples at 48 kHz
        std::uint32_t hop = 256;
    };
    const Case cases[] = {
        {"dip between equals", {60, 48, 60}, 4800, {60, 60, 60}},
        {"next note only a tone above", {60, 48, 50}, 4800, {60, 48, 50}},
        {"next note too far away", {60, 48, 60}, 38400, {60, 48, 60}},
        {"first of two", {48, 60}, 4800, {60, 60}},
        {"last of two", {60, 48}, 4800, {60, 60}},
        {"exactly 9.5 below", {60, 50.5, 60}, 4800, {60, 62.5, 60}},
        {"exactly 14.5 below", {60, 45.5, 60}, 4800, {60, 57.5, 60}},
        {"9.49 below", {60, 50.51, 60}, 4800, {60, 50.51, 60}},
        {"0.5 s apart at 96 kHz", {60, 48, 60}, 48000, {60, 60, 60}, 96000.0, 512},
        {"0.75 s apart at 44.1 kHz", {60, 48, 60}, 33075, {60, 48, 60}, 44100.0, 235},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        np::PitchTrack track;
        track.sampleRate = c.rate;
        track.hop = c.hop;
        track.frames.assign(400, np::PitchFrame{100.0, 0.9, true, 0});
        std::vector<np::NoteEvent> notes;
        for (std::int64_t i = 0, at = 0; i < static_cast<std::int64_t>(c.pitches.size()); ++i) {
            if (i > 0)
                at += i + 1 == static_cast<std::int64_t>(c.pitches.size()) ? c.gapBeforeLast : 4800;
            notes.push_back(note(c.pitches[static_cast<std::size_t>(i)], at, at + 9600));
            at += 9600;
        }
        ASSERT_TRUE(np::correctOctaveErrors(notes, track, {}));
        for (std::size_t i = 0; i < notes.size(); ++i) {
            EXPECT_DOUBLE_EQ(notes[i].pitch, c.expected[i]) << "note " << i;
            // The note's first and last frames move with it.
            for (const std::int64_t at : {notes[i].start, notes[i].end - c.hop}) {
                const double frameHz = track.frames[static_cast<std::size_t>(at / c.hop)].hz;
                EXPECT_DOUBLE_EQ(frameHz, notes[i].pitch != c.pitches[i] ? 200.0 : 100.0) << "note " << i;
            }
        }
    }
}

TEST(OctaveCorrection, OnlyVoicedFramesUnderTheNoteMove) {
    np::PitchTrack track;
    track.frames.assign(100, np::PitchFrame{100.0, 0.9, true, 0});
    track.frames[45] = np::PitchFrame{};
    std::vector<np::NoteEvent> notes{note(48, 40 * kHop, 50 * kHop), note(60, 55 * kHop, 70 * kHop)};
    ASSERT_TRUE(np::correctOctaveErrors(notes, track, {}));
    const std::pair<int, double> expected[] = {{39, 100.0}, {40, 200.0}, {49, 200.0}, {50, 100.0}, {45, 0.0}};
    for (const auto& [frame, hz] : expected)
        EXPECT_DOUBLE_EQ(track.frames[frame].hz, hz) << "frame " << frame;
    EXPECT_FALSE(np::correctOctaveErrors(notes, track, [] { return false; }));
}

} // namespace
