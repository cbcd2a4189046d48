#include "tests/model/document_fixture.h"

#include <gtest/gtest.h>

namespace {

using Ids = std::vector<std::uint32_t>;
const Ids kFirst{1};

auto stacks(const np::EditSession& s) {
    return std::pair(s.undoStates().size(), s.redoStates().size());
}

TEST(EditSession, CountsChangesKeepsTheNewest200StatesAndSharesCurves) {
    np::EditSession session;
    EXPECT_EQ(std::tuple(session.undo(), session.redo(), session.editCount(), session.historyBudgetBytes()),
              std::tuple(false, false, 0u, 134217728u));
    session.setDocument(cvtest::makeTestDocument(2, 10000));
    const auto base = session.estimatedResidentBytes();
    session.addPitchOffset(kFirst, 1.0);
    session.addPitchOffset(kFirst, 1.0);
    // Each state counts its curves, but the session's estimate counts curves the states share once.
    EXPECT_GT(session.undoStates()[0].bytes, 4 * 40000u);
    EXPECT_LT(session.estimatedResidentBytes() - base, 40000u);
    const auto state = [&] {
        return std::tuple(cvtest::noteOf(session, 1).pitchOffset, session.contentRevision(),
                          session.documentRevision(), session.editCount());
    };
    EXPECT_EQ(state(), std::tuple(2.0, 3u, 1u, 3u));
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(state(), std::tuple(1.0, 2u, 1u, 4u));
    ASSERT_TRUE(session.undo() && !session.undo());
    EXPECT_EQ(state(), std::tuple(0.0, 1u, 1u, 5u));
    ASSERT_TRUE(session.redo() && session.redo() && !session.redo());
    EXPECT_EQ(state(), std::tuple(2.0, 3u, 1u, 7u));
    for (int i = 0; i < 201; ++i) // 203 states in all: the oldest three go
        session.moveTime(kFirst, 1);
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(session.undo());
    EXPECT_EQ(stacks(session), std::pair(140ul, 60ul));
    session.addGainDb(kFirst, -1.0);
    EXPECT_EQ(std::tuple(stacks(session), session.redoBytes()), std::tuple(std::pair(141ul, 0ul), 0u));
    while (session.undo()) {
    }
    EXPECT_EQ(cvtest::noteOf(session, 1).start, 1);
    ASSERT_TRUE(session.redo());                      // both stacks hold states
    session.setDocument(cvtest::makeTestDocument(2)); // drops the history; a fresh revision for both
    EXPECT_EQ(std::tuple(stacks(session), session.contentRevision(), session.documentRevision()),
              std::tuple(std::pair(0ul, 0ul), 206u, 206u));
}

// Note 1's curves hold one value each but reserve `reserved` floats, which every state counts in full
// (their pages are never touched). Notes 2 and 3, and 4 and 5, merge at hop 1 into curves of 2 x pair values.
np::EditSession budgetSession(std::size_t reserved, std::int64_t pair) {
    const std::int64_t a = 1 << 30, b = std::int64_t{1} << 31;
    np::Document document = cvtest::makeSpanDocument({{0, 256, 60},
                                                      {a, a + pair, 61},
                                                      {a + pair, a + 2 * pair, 62},
                                                      {b, b + pair, 63},
                                                      {b + pair, b + 2 * pair, 64}});
    document.track.hop = 1;
    for (np::SharedCurve* curve : {&document.notes[0].pitchCurve, &document.notes[0].levelCurve}) {
        std::vector<float> values(1);
        values.reserve(reserved);
        *curve = std::make_shared<const std::vector<float>>(std::move(values));
    }
    auto session = cvtest::sessionOf(std::move(document));
    session.addGainDb(kFirst, 1.0);
    EXPECT_TRUE(session.mergeNotes(Ids{2, 3}, nullptr));
    return session;
}

// States of 36 MB grow by 10 MB with each merge. Undoing both merges would keep 36, 46 and 56 MB: over the
// 128 MiB budget, so the oldest undo state goes, not the redo states the user has just left.
TEST(EditSession, AnUndoOverTheBudgetDropsTheOldestUndoStateFirst) {
    auto session = budgetSession(4500000, 625000);
    ASSERT_TRUE(session.mergeNotes(Ids{4, 5}, nullptr));
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(stacks(session), std::pair(2ul, 1ul));
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(stacks(session), std::pair(0ul, 2ul));
    EXPECT_EQ(session.undoBytes() + session.redoBytes(),
              session.redoStates()[0].bytes + session.redoStates()[1].bytes);
    EXPECT_EQ(cvtest::noteOf(session, 1).gainDb, 1.0);
    ASSERT_TRUE(session.redo() && session.redo());
    EXPECT_EQ(std::tuple(session.document().notes.size(), stacks(session)),
              std::tuple(3ul, std::pair(2ul, 0ul)));
}

// 120 MB of curves plus a merge of 16 MB is more than the whole budget: such a state is never kept, and
// the states before it no longer lead to the notes. A drag from there holds its first state aside.
TEST(EditSession, AStateOverTheWholeBudgetIsNeverKept) {
    for (const bool gesture : {false, true}) {
        SCOPED_TRACE(gesture ? "inside a gesture" : "outside a gesture");
        auto session = budgetSession(15000000, 1000000);
        ASSERT_EQ(stacks(session), std::pair(1ul, 0ul));
        if (gesture) {
            session.beginGesture();
            session.addGainDb(kFirst, 1.0);
            session.addGainDb(kFirst, 1.0);
            session.cancelGesture();
            EXPECT_EQ(cvtest::noteOf(session, 1).gainDb, 1.0);
            session.beginGesture();
        }
        session.addGainDb(kFirst, 1.0);
        EXPECT_EQ(gesture, session.endGesture());
        EXPECT_EQ(std::tuple(stacks(session), cvtest::noteOf(session, 1).gainDb),
                  std::tuple(std::pair(0ul, 0ul), 2.0));
    }
}

TEST(EditSession, AGestureIsOneStepThatACancelTakesBack) {
    auto session = cvtest::sessionOf(cvtest::makeTestDocument(1));
    session.addPitchOffset(kFirst, 1.0);
    session.addPitchOffset(kFirst, 1.0);
    ASSERT_TRUE(session.undo());
    session.beginGesture(); // a gesture that changes nothing leaves redo alone
    session.addPitchOffset(kFirst, 0.0);
    EXPECT_FALSE(session.endGesture());
    EXPECT_EQ(stacks(session), std::pair(1ul, 1ul));
    // A cancelled drag restores the notes, the revision and redo and counts as an edit; undo and redo wait
    // until the drag ends.
    const auto state = [&] {
        return std::tuple(cvtest::noteOf(session, 1).pitchOffset, session.contentRevision());
    };
    const auto before = std::tuple(state(), session.editCount());
    session.beginGesture();
    session.addPitchOffset(kFirst, 3.0);
    session.addPitchOffset(kFirst, 3.0);
    EXPECT_EQ(stacks(session), std::pair(2ul, 0ul)) << "redo is parked while the gesture runs";
    EXPECT_FALSE(session.undo() || session.redo());
    session.cancelGesture();
    EXPECT_EQ(std::tuple(state(), session.editCount() - 3), before);
    EXPECT_EQ(stacks(session), std::pair(1ul, 1ul));
    // Fifty drag steps are one undo step, a second begin changes nothing, and the end drops redo.
    session.beginGesture();
    session.addPitchOffset(kFirst, 0.5);
    session.beginGesture();
    for (int i = 0; i < 50; ++i)
        session.addPitchOffset(kFirst, 0.25);
    EXPECT_TRUE(session.endGesture());
    EXPECT_FALSE(session.endGesture());
    EXPECT_EQ(stacks(session), std::pair(2ul, 0ul));
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(cvtest::noteOf(session, 1).pitchOffset, 1.0);

    // A drag's step counts against the 200 states like any other.
    for (int i = 0; i < 200; ++i)
        session.addGainDb(kFirst, -0.1);
    session.beginGesture();
    session.addGainDb(kFirst, -0.1);
    session.endGesture();
    EXPECT_EQ(stacks(session), std::pair(200ul, 0ul));
}

} // namespace
