#include "engine/model/edit_session.h"
#include "tests/model/document_fixture.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kFirst[] = {1};

np::EditSession sessionWith(int notes, std::size_t curveLength = 16) {
    np::EditSession session;
    session.setDocument(cvtest::makeTestDocument(notes, curveLength));
    return session;
}

double offsetOf(const np::EditSession& s, std::uint32_t id) {
    return s.document().findNote(id)->pitchOffset;
}

TEST(EditSession, FreshSessionAndSetDocumentCounters) {
    np::EditSession session;
    EXPECT_EQ(session.editCount(), 0u);
    EXPECT_EQ(session.historyBudgetBytes(), 134217728u);
    EXPECT_FALSE(session.undo());
    EXPECT_FALSE(session.redo());
    EXPECT_EQ(session.editCount(), 0u);

    session.setDocument(cvtest::makeTestDocument(2));
    EXPECT_EQ(session.editCount(), 1u);
    EXPECT_EQ(session.contentRevision(), 1u);
    EXPECT_EQ(session.documentRevision(), 1u);

    session.addPitchOffset(kFirst, 1.0);
    EXPECT_EQ(session.editCount(), 2u);
    EXPECT_EQ(session.contentRevision(), 2u);
    EXPECT_EQ(session.documentRevision(), 1u);

    // A new document drops the history and takes a fresh revision for both.
    session.setDocument(cvtest::makeTestDocument(2));
    EXPECT_TRUE(session.undoStates().empty());
    EXPECT_EQ(session.contentRevision(), 3u);
    EXPECT_EQ(session.documentRevision(), 3u);
}

TEST(EditSession, UndoRedoRestoreNotesAndRevisions) {
    auto session = sessionWith(2);
    const auto r0 = session.contentRevision();
    session.addPitchOffset(kFirst, 1.0);
    const auto r1 = session.contentRevision();
    session.addPitchOffset(kFirst, 1.0);
    EXPECT_EQ(offsetOf(session, 1), 2.0);

    ASSERT_TRUE(session.undo());
    EXPECT_EQ(offsetOf(session, 1), 1.0);
    EXPECT_EQ(session.contentRevision(), r1);
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(session.contentRevision(), r0);
    EXPECT_FALSE(session.undo());
    ASSERT_TRUE(session.redo());
    ASSERT_TRUE(session.redo());
    EXPECT_EQ(offsetOf(session, 1), 2.0);
    EXPECT_FALSE(session.redo());
    EXPECT_EQ(session.editCount(), 1u + 2 + 4);
}

TEST(EditSession, HistoryKeepsAtMost200StatesAndAnEditClearsRedo) {
    auto session = sessionWith(1);
    for (int i = 0; i < 150; ++i)
        session.addGainDb(kFirst, (i % 2 == 0) ? 0.5 : -0.25);
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(session.undo());
    EXPECT_EQ(session.undoStates().size(), 90u);
    EXPECT_EQ(session.redoStates().size(), 60u);
    session.addGainDb(kFirst, 1.0);
    EXPECT_TRUE(session.redoStates().empty());
    EXPECT_EQ(session.redoBytes(), 0u);

    auto full = sessionWith(1);
    const double before = full.document().notes[0].gainDb;
    for (int i = 0; i < 201; ++i)
        full.addGainDb(kFirst, 0.1);
    EXPECT_EQ(full.undoStates().size(), 200u);
    while (full.undo()) {
    }
    // The very first state was dropped, so undo stops one step short of the original.
    EXPECT_NEAR(full.document().notes[0].gainDb, before + 0.1, 1e-9);
}

TEST(EditSession, ByteBudgetTrimsOldestStatesOfLargeNotes) {
    // Each state counts its curves in full (about 40 MB here), although the memory is shared.
    auto session = sessionWith(1, 5'000'000);
    const std::uint64_t stateBytes = 104 + sizeof(np::Note) + 64 + 2 * (20'000'000 + 152);
    for (int i = 0; i < 5; ++i)
        session.addPitchOffset(kFirst, 1.0);
    EXPECT_EQ(session.undoStates().size(), 3u); // a fourth would pass 128 MiB
    EXPECT_EQ(session.undoBytes(), 3 * stateBytes);
    EXPECT_LE(session.undoBytes() + session.redoBytes(), session.historyBudgetBytes());

    // Undo makes room in redo by dropping the oldest undo states first (rule after edits).
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(session.undoStates().size() + session.redoStates().size(), 3u);
    EXPECT_EQ(offsetOf(session, 1), 4.0);
    // Redo drops the oldest redo state first, then undo states.
    ASSERT_TRUE(session.redo());
    EXPECT_EQ(offsetOf(session, 1), 5.0);
    EXPECT_EQ(session.undoStates().size() + session.redoStates().size(), 3u);
}

TEST(EditSession, StateLargerThanTheBudgetIsNeverKept) {
    // 2 * 17M floats = 136 MB in one state: over the 128 MiB budget on its own.
    auto session = sessionWith(1, 17'000'000);
    EXPECT_TRUE(session.addPitchOffset(kFirst, 1.0));
    EXPECT_TRUE(session.undoStates().empty());
    EXPECT_FALSE(session.undo());

    // Inside a gesture the over-budget state is held aside so a cancel can still restore it.
    session.beginGesture();
    session.addPitchOffset(kFirst, 1.0);
    session.addPitchOffset(kFirst, 1.0);
    session.cancelGesture();
    EXPECT_EQ(offsetOf(session, 1), 1.0);

    session.beginGesture();
    session.addPitchOffset(kFirst, 1.0);
    EXPECT_TRUE(session.endGesture());
    EXPECT_EQ(offsetOf(session, 1), 2.0);
    EXPECT_TRUE(session.undoStates().empty());
}

TEST(EditSession, GestureIsOneUndoStep) {
    auto session = sessionWith(1);
    session.beginGesture();
    for (int i = 0; i < 50; ++i)
        session.addPitchOffset(kFirst, 0.1);
    EXPECT_TRUE(session.endGesture());
    EXPECT_EQ(session.undoStates().size(), 1u);
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(offsetOf(session, 1), 0.0);
    EXPECT_FALSE(session.endGesture()); // outside a gesture
}

TEST(EditSession, UnchangedGestureKeepsRedoAndCancelRestoresIt) {
    auto session = sessionWith(1);
    session.addPitchOffset(kFirst, 1.0);
    session.addPitchOffset(kFirst, 1.0);
    ASSERT_TRUE(session.undo());
    ASSERT_EQ(session.redoStates().size(), 1u);

    session.beginGesture();
    session.addPitchOffset(kFirst, 0.0); // no change: records nothing
    EXPECT_FALSE(session.endGesture());
    EXPECT_EQ(session.redoStates().size(), 1u);

    const auto revision = session.contentRevision();
    const auto edits = session.editCount();
    session.beginGesture();
    session.addPitchOffset(kFirst, 3.0);
    session.addPitchOffset(kFirst, 3.0);
    EXPECT_TRUE(session.redoStates().empty()); // parked while the gesture runs
    session.cancelGesture();
    EXPECT_EQ(offsetOf(session, 1), 1.0);
    EXPECT_EQ(session.contentRevision(), revision);
    EXPECT_EQ(session.editCount(), edits + 2 + 1);
    EXPECT_EQ(session.redoStates().size(), 1u);
    EXPECT_EQ(session.undoStates().size(), 1u);
    ASSERT_TRUE(session.redo());
    EXPECT_EQ(offsetOf(session, 1), 2.0);

    // A finished changed gesture drops the parked redo stack.
    ASSERT_TRUE(session.undo());
    session.beginGesture();
    session.addPitchOffset(kFirst, 0.5);
    EXPECT_TRUE(session.endGesture());
    EXPECT_TRUE(session.redoStates().empty());
}

TEST(EditSession, UndoAndRedoAreRefusedInsideAGesture) {
    auto session = sessionWith(1);
    session.addPitchOffset(kFirst, 1.0); // the user's earlier edit
    session.addPitchOffset(kFirst, 1.0);
    ASSERT_TRUE(session.undo());
    const auto edits = session.editCount();

    session.beginGesture();
    session.addPitchOffset(kFirst, 5.0);
    EXPECT_FALSE(session.undo());
    EXPECT_FALSE(session.redo());
    EXPECT_EQ(session.editCount(), edits + 1);
    session.cancelGesture();
    // The earlier edit survives the cancelled drag, and redo is back.
    EXPECT_EQ(offsetOf(session, 1), 1.0);
    EXPECT_EQ(session.redoStates().size(), 1u);
}

TEST(EditSession, ResidentEstimateCountsSharedCurvesOnce) {
    auto session = sessionWith(2, 1000);
    const auto base = session.estimatedResidentBytes();
    EXPECT_EQ(base, np::estimateDocumentResidentBytes(session.document()) + 304);
    session.addPitchOffset(kFirst, 1.0);
    const auto after = session.estimatedResidentBytes();
    // One more state: its note vector and its entry, but no curve bytes (they are shared).
    EXPECT_EQ(after - base, 2 * sizeof(np::Note) + 64 + 40 * session.undoStates().capacity());
}

} // namespace
