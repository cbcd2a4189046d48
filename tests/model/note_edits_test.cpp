#include "engine/model/edit_session.h"
#include "tests/model/document_fixture.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr std::uint32_t kFirst[] = {1};

np::EditSession sessionWith(int notes) {
    np::EditSession session;
    session.setDocument(cvtest::makeTestDocument(notes));
    return session;
}

const np::Note& note(const np::EditSession& s, std::uint32_t id) {
    return *s.document().findNote(id);
}

// Runs an edit that must change nothing: no history, no counters.
template <typename Edit>
void expectNoOp(np::EditSession& session, Edit edit) {
    const auto edits = session.editCount();
    const auto revision = session.contentRevision();
    const auto states = session.undoStates().size();
    EXPECT_FALSE(edit());
    EXPECT_EQ(session.editCount(), edits);
    EXPECT_EQ(session.contentRevision(), revision);
    EXPECT_EQ(session.undoStates().size(), states);
}

TEST(NoteEdits, AdditiveEditsClampAndStopAtTheLimit) {
    auto session = sessionWith(1);
    EXPECT_TRUE(session.addPitchOffset(kFirst, 30.0));
    EXPECT_EQ(note(session, 1).pitchOffset, 24.0);
    expectNoOp(session, [&] { return session.addPitchOffset(kFirst, 1.0); });
    EXPECT_TRUE(session.addPitchOffset(kFirst, -1.0)); // dragging back starts from the limit
    EXPECT_EQ(note(session, 1).pitchOffset, 23.0);

    session.addFormantShift(kFirst, -20.0);
    EXPECT_EQ(note(session, 1).formantShift, -12.0);
    session.addGainDb(kFirst, 100.0);
    EXPECT_EQ(note(session, 1).gainDb, 24.0);
    session.addGainDb(kFirst, -200.0);
    EXPECT_EQ(note(session, 1).gainDb, -60.0);
    session.setDriftScale(kFirst, 3.0);
    EXPECT_EQ(note(session, 1).driftScale, 2.0);
}

TEST(NoteEdits, DryRunRecordsNothingWhenNothingChanges) {
    auto session = sessionWith(3);
    const std::uint32_t all[] = {1, 2, 3};
    ASSERT_TRUE(session.setMuted(all, true));
    expectNoOp(session, [&] { return session.setMuted(all, true); });
    expectNoOp(session, [&] { return session.addGainDb({}, 3.0); });
    const std::uint32_t unknown[] = {77, 78};
    expectNoOp(session, [&] { return session.addGainDb(unknown, 3.0); });
    expectNoOp(session, [&] { return session.setDriftScale(all, 1.0); });
}

TEST(NoteEdits, NonFiniteArgumentsAreRefused) {
    auto session = sessionWith(1);
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()}) {
        SCOPED_TRACE(bad);
        expectNoOp(session, [&] { return session.addPitchOffset(kFirst, bad); });
        expectNoOp(session, [&] { return session.setDriftScale(kFirst, bad); });
        expectNoOp(session, [&] { return session.addFormantShift(kFirst, bad); });
        expectNoOp(session, [&] { return session.addGainDb(kFirst, bad); });
    }
    EXPECT_EQ(note(session, 1).pitchOffset, 0.0);
}

TEST(NoteEdits, MoveTimeClampsToTheTimelineAndSkipsUnknownIds) {
    auto session = sessionWith(2);
    const std::uint32_t ids[] = {99, 1};
    ASSERT_TRUE(session.moveTime(ids, 200));
    EXPECT_EQ(note(session, 1).start, 200);
    ASSERT_TRUE(session.moveTime(ids, -1000));
    EXPECT_EQ(note(session, 1).start, 0);

    // Mono audio: the timeline holds 536870912 / 4 samples; the note ends there at the latest.
    const std::int64_t limit = session.timelineLimitFrames();
    EXPECT_EQ(limit, 134217728);
    ASSERT_TRUE(session.moveTime(kFirst, std::numeric_limits<std::int64_t>::max()));
    EXPECT_EQ(note(session, 1).start, limit - note(session, 1).length);
    ASSERT_TRUE(session.moveTime(kFirst, std::numeric_limits<std::int64_t>::min()));
    EXPECT_EQ(note(session, 1).start, 0);

    np::EditSession stereo;
    stereo.setDocument(cvtest::makeTestDocument(1, 16, 2));
    EXPECT_EQ(stereo.timelineLimitFrames(), 67108864);
}

TEST(NoteEdits, ResizeKeepsWithinAnEighthAndEightTimesTheSource) {
    np::AnalysisResult result;
    np::NoteEvent event;
    event.start = 0;
    event.end = 1000;
    result.notes.push_back(event);
    np::EditSession session;
    session.setDocument(np::makeDocument(nullptr, 48000.0, result));

    EXPECT_TRUE(session.resizeNote(1, 10));
    EXPECT_EQ(note(session, 1).length, 256);
    EXPECT_TRUE(session.resizeNote(1, 100000));
    EXPECT_EQ(note(session, 1).length, 8000);
    expectNoOp(session, [&] { return session.resizeNote(1, 9000); });
    expectNoOp(session, [&] { return session.resizeNote(42, 500); });

    // Near the end of the timeline the room left wins over the 256-sample floor.
    ASSERT_TRUE(session.moveTime(kFirst, 134217728 - 8000 - 100));
    EXPECT_TRUE(session.resizeNote(1, 5000));
    EXPECT_EQ(note(session, 1).start, 134217728 - 8100);
    EXPECT_EQ(note(session, 1).length, 5000);
    EXPECT_TRUE(session.resizeNote(1, 20000));
    EXPECT_EQ(note(session, 1).length, 8000);
}

TEST(NoteEdits, SnapToScaleUsesTheSessionKeyAndReference) {
    auto session = sessionWith(2); // note 1 at 60, note 2 at 61
    session.setKeyScale({0, 1});
    const std::uint32_t second[] = {2};
    ASSERT_TRUE(session.snapToScale(second));
    EXPECT_EQ(note(session, 2).pitchOffset, 1.0); // C# ties between C and D: D wins
    expectNoOp(session, [&] { return session.snapToScale(second); });

    session.setA4Hz(432.0);
    ASSERT_TRUE(session.snapToScale(kFirst));
    EXPECT_NEAR(note(session, 1).pitchOffset, -0.31767, 1e-5);
}

TEST(NoteEdits, ManyIdsFindTheSameNotesAsSingleLookups) {
    auto session = sessionWith(50);
    auto ids = cvtest::allIds(session.document());
    ids.push_back(1000); // unknown
    ids.push_back(3);    // listed twice: the additive edit applies twice, as for two single edits
    ASSERT_TRUE(session.addGainDb(ids, 1.0));
    for (const auto& n : session.document().notes)
        EXPECT_EQ(n.gainDb, n.id == 3 ? 2.0 : 1.0) << n.id;
    EXPECT_EQ(session.undoStates().size(), 1u);
}

} // namespace
