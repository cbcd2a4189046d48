#include "engine/model/edit_session.h"
#include "tests/model/document_fixture.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

// Notes with the given pitches; the note with id `unpitched` (if any) carries no usable pitch.
np::EditSession sessionWithPitches(std::initializer_list<double> pitches, std::uint32_t unpitched = 0) {
    auto document = cvtest::makeTestDocument(static_cast<int>(pitches.size()));
    std::size_t i = 0;
    for (double p : pitches)
        document.notes[i++].pitch = p;
    if (unpitched != 0)
        document.findNote(unpitched)->pitched = false;
    np::EditSession session;
    session.setDocument(std::move(document));
    return session;
}

const np::Note& note(const np::EditSession& s, std::uint32_t id) {
    return *s.document().findNote(id);
}

TEST(PitchCorrection, PullsPitchedNotesTowardAMinorKeyInAnotherTuning) {
    auto session = sessionWithPitches({61.0, 63.4, 66.2}, 3);
    session.setKeyScale({9, 2}); // A minor: A B C D E F G
    session.setA4Hz(442.0);      // +0.07851 semitones
    const std::uint32_t ids[] = {1, 2, 3};
    ASSERT_TRUE(session.applyPitchCorrection(ids, 0.5, 0.25));
    const double t = 12.0 * std::log2(442.0 / 440.0);
    // In the tuning, 61 lies 0.92 above C and 1.08 below D: C wins; 63.4 is nearest E.
    EXPECT_NEAR(note(session, 1).pitchOffset, (60.0 + t - 61.0) * 0.5, 1e-9);
    EXPECT_NEAR(note(session, 2).pitchOffset, (64.0 + t - 63.4) * 0.5, 1e-9);
    EXPECT_EQ(note(session, 1).driftScale, 0.75);
    EXPECT_EQ(note(session, 3).pitchOffset, 0.0); // unpitched: untouched
    EXPECT_EQ(note(session, 3).driftScale, 1.0);
}

TEST(PitchCorrection, FlattenAndAmountLimits) {
    auto session = sessionWithPitches({64.4, 60.0});
    session.setKeyScale({0, 1});
    const std::uint32_t ids[] = {1, 2};
    EXPECT_FALSE(session.applyPitchCorrection(ids, 0.0, 0.0)); // nothing to do: no history
    EXPECT_TRUE(session.undoStates().empty());
    EXPECT_FALSE(session.applyPitchCorrection(ids, std::numeric_limits<double>::quiet_NaN(), 0.0));

    ASSERT_TRUE(session.applyPitchCorrection(ids, 5.0, 3.0));
    EXPECT_NEAR(note(session, 1).pitchOffset, -0.4, 1e-12);
    EXPECT_EQ(note(session, 1).driftScale, 0.0);
    ASSERT_TRUE(session.applyPitchCorrection(ids, 1.0, -1.0));
    EXPECT_EQ(note(session, 2).driftScale, 1.0);
    EXPECT_EQ(session.undoStates().size(), 2u);
}

TEST(TimeQuantize, RoundsHalvesAwayFromZeroAtAStrength) {
    np::EditSession session;
    session.setDocument(cvtest::makeTestDocument(3));
    const std::uint32_t ids[] = {1, 2, 3};
    // Place the notes at 1499, 1500 and 2600 first.
    session.moveTime(std::span(ids, 1), 1499);
    session.moveTime(std::span(ids + 1, 1), 1500 - 9600);
    session.moveTime(std::span(ids + 2, 1), 2600 - 19200);
    auto half = session;
    ASSERT_TRUE(session.applyTimeQuantize(ids, 1000, 1.0));
    EXPECT_EQ(note(session, 1).start, 1000);
    EXPECT_EQ(note(session, 2).start, 2000);
    EXPECT_EQ(note(session, 3).start, 3000);
    ASSERT_TRUE(half.applyTimeQuantize(ids, 1000, 0.5));
    EXPECT_EQ(note(half, 1).start, 1250); // 1249.5 rounds away from zero
    EXPECT_EQ(note(half, 2).start, 1750);
    EXPECT_EQ(note(half, 3).start, 2800);

    // A tempo grid: one beat at 120 bpm and 48 kHz.
    np::EditSession beats;
    beats.setDocument(cvtest::makeTestDocument(3));
    const std::uint32_t all[] = {1, 2, 3}; // starts 0, 9600, 19200
    ASSERT_TRUE(beats.applyTimeQuantize(all, 24000, 0.5));
    EXPECT_EQ(note(beats, 2).start, 4800);  // toward 0
    EXPECT_EQ(note(beats, 3).start, 21600); // toward 24000

    EXPECT_FALSE(beats.applyTimeQuantize(all, 0, 1.0));
    EXPECT_FALSE(beats.applyTimeQuantize({}, 1000, 1.0));
}

TEST(Unison, GivesPitchedNotesOneTargetWithinTheOffsetRange) {
    auto session = sessionWithPitches({58.0, 63.5, 90.0, 61.0}, 4);
    const std::uint32_t ids[] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(session.applyUnison(ids, 60.0));
    EXPECT_EQ(note(session, 1).pitchOffset, 2.0);
    EXPECT_EQ(note(session, 2).pitchOffset, -3.5);
    EXPECT_EQ(note(session, 3).pitchOffset, -24.0); // clamped: stays 6 semitones above
    EXPECT_EQ(note(session, 4).pitchOffset, 0.0);
    EXPECT_FALSE(session.applyUnison(ids, 60.0));
    EXPECT_FALSE(session.applyUnison(ids, std::numeric_limits<double>::infinity()));
}

} // namespace
