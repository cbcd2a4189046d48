#include "engine/model/edit_session.h"
#include "tests/model/document_fixture.h"

#include <gtest/gtest.h>

namespace {

using Failure = np::EditSession::MergeNotesFailure;

// One note per (sourceStart, sourceEnd, pitch), at hop 256, each with a pitch curve from curveOf.
template <typename CurveOf>
np::EditSession sessionOf(std::vector<std::tuple<std::int64_t, std::int64_t, double>> spans,
                          CurveOf curveOf) {
    np::AnalysisResult result;
    for (auto [start, end, pitch] : spans) {
        np::NoteEvent e;
        e.start = start;
        e.end = end;
        e.pitch = pitch;
        e.pitched = true;
        const auto hops = static_cast<std::size_t>((end - start) / 256);
        for (std::size_t i = 0; i < hops; ++i) {
            e.pitchCurve.push_back(curveOf(i, hops));
            e.levelCurve.push_back(0.5f);
        }
        result.notes.push_back(std::move(e));
    }
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(1, std::get<1>(spans.back()) + 1000);
    np::EditSession session;
    session.setDocument(np::makeDocument(std::move(audio), 48000.0, result));
    return session;
}

np::EditSession flatNotes(std::vector<std::tuple<std::int64_t, std::int64_t, double>> spans) {
    return sessionOf(std::move(spans), [](std::size_t, std::size_t) { return 0.0f; });
}

const np::Note& note(const np::EditSession& s, std::uint32_t id) {
    return *s.document().findNote(id);
}

TEST(SplitNote, SplitsInTheMiddleAndNeverReusesIds) {
    // Two seconds, the right half 30 cents sharp.
    auto session =
        sessionOf({{0, 96000, 60.0}}, [](std::size_t i, std::size_t n) { return i < n / 2 ? 0.0f : 30.0f; });
    const std::uint32_t right = session.splitNote(1, 48000);
    ASSERT_EQ(right, 2u);
    ASSERT_EQ(session.document().notes.size(), 2u);
    EXPECT_EQ(session.document().notes[1].id, 2u);
    const auto& l = note(session, 1);
    const auto& r = note(session, 2);
    EXPECT_EQ(l.sourceEnd, 48000);
    EXPECT_EQ(l.length, 48000);
    EXPECT_EQ(r.sourceStart, 48000);
    EXPECT_EQ(r.start, 48000);
    EXPECT_EQ(r.length, 48000);
    EXPECT_NEAR(r.pitch, 60.3, 1e-9);
    EXPECT_EQ(r.pitchCurve->front(), 0.0f);
    EXPECT_EQ(l.pitch, 60.0);
    EXPECT_EQ(l.pitchCurve->size() + r.pitchCurve->size(), 375u);

    ASSERT_TRUE(session.undo());
    EXPECT_EQ(session.document().notes.size(), 1u);
    EXPECT_EQ(session.splitNote(1, 30000), 3u); // id 2 is not given again
}

TEST(SplitNote, RefusesPositionsOutsideTheNoteAndTinySources) {
    auto session = flatNotes({{1000, 5000, 60.0}, {6000, 6001, 62.0}});
    for (std::int64_t at : {1000, 5000, 999, 5001}) {
        SCOPED_TRACE(at);
        EXPECT_EQ(session.splitNote(1, at), 0u);
    }
    EXPECT_EQ(session.splitNote(2, 6000), 0u); // one sample long
    EXPECT_EQ(session.splitNote(42, 2000), 0u);
    EXPECT_TRUE(session.undoStates().empty());

    // The first and last possible samples.
    EXPECT_NE(session.splitNote(1, 1001), 0u);
    EXPECT_EQ(note(session, 1).length, 1);
    EXPECT_NE(session.splitNote(3, 4999), 0u);
    EXPECT_EQ(note(session, 4).length, 1);
    EXPECT_EQ(note(session, 4).sourceEnd, 5000);
}

TEST(SplitNote, InsertsTheRightPieceNextToTheLeftInAnUnsortedList) {
    auto session = flatNotes({{0, 4800, 60.0}, {9600, 14400, 62.0}, {19200, 24000, 64.0}});
    const std::uint32_t third[] = {3};
    ASSERT_TRUE(session.moveTime(third, -19000)); // note 3 now starts first, list unsorted
    ASSERT_EQ(session.splitNote(2, 12000), 4u);
    const auto& notes = session.document().notes;
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[1].id, 2u);
    EXPECT_EQ(notes[2].id, 4u);
    EXPECT_EQ(notes[3].id, 3u);
}

TEST(SplitNote, RefusedAtTheNoteLimit) {
    np::Document document = cvtest::makeTestDocument(1);
    document.notes.resize(np::EditSession::kMaxNotes, document.notes[0]);
    for (std::size_t i = 0; i < document.notes.size(); ++i)
        document.notes[i].id = static_cast<std::uint32_t>(i + 1);
    document.nextNoteId = static_cast<std::uint32_t>(document.notes.size() + 1);
    np::EditSession session;
    session.setDocument(std::move(document));
    EXPECT_EQ(session.splitNote(1, 2400), 0u);
    EXPECT_EQ(session.document().notes.size(), np::EditSession::kMaxNotes);
    EXPECT_EQ(session.document().nextNoteId, 100001u);
    EXPECT_TRUE(session.undoStates().empty());
}

TEST(SplitNote, RefusesPiecesThatCouldNotBeSaved) {
    // A glide from -4800 to +4800 cents: each half re-centred on its median would exceed the range.
    auto session = sessionOf({{0, 96000, 60.0}}, [](std::size_t i, std::size_t n) {
        return i < n / 4 ? -4800.0f : (i < n / 2 ? 4800.0f : 0.0f);
    });
    EXPECT_EQ(session.splitNote(1, 48000), 0u);
    EXPECT_EQ(session.document().notes.size(), 1u);
}

TEST(MergeNotes, JoinsNeighboursAndOffsetsTheCurveByThePitchStep) {
    auto session = flatNotes({{0, 25600, 60.0}, {25600, 51200, 62.0}});
    const std::uint32_t ids[] = {2, 1};
    Failure why = Failure::NotMergeable;
    ASSERT_TRUE(session.mergeNotes(ids, &why));
    EXPECT_EQ(why, Failure::None);
    ASSERT_EQ(session.document().notes.size(), 1u);
    const auto& merged = note(session, 1);
    EXPECT_EQ(merged.pitch, 60.0);
    EXPECT_EQ(merged.sourceEnd, 51200);
    EXPECT_EQ(merged.length, 51200);
    ASSERT_EQ(merged.pitchCurve->size(), 200u);
    EXPECT_EQ((*merged.pitchCurve)[99], 0.0f);
    EXPECT_EQ((*merged.pitchCurve)[100], 200.0f);
    EXPECT_EQ((*merged.levelCurve)[150], 0.5f);

    ASSERT_TRUE(session.undo());
    EXPECT_EQ(session.document().notes.size(), 2u);
}

TEST(MergeNotes, NonAdjacentNotesMergeWhenNothingLiesBetween) {
    auto session = flatNotes({{0, 2560, 60.0}, {5120, 7680, 61.0}, {20000, 22560, 62.0}});
    const std::uint32_t ids[] = {1, 2};
    ASSERT_TRUE(session.mergeNotes(ids, nullptr));
    const auto& merged = note(session, 1);
    ASSERT_EQ(merged.pitchCurve->size(), 30u);
    EXPECT_EQ((*merged.pitchCurve)[15], 0.0f); // the gap stays zero
    EXPECT_EQ((*merged.pitchCurve)[20], 100.0f);
}

TEST(MergeNotes, RefusalsLeaveTheDocumentUnchanged) {
    auto session = flatNotes({{0, 2560, 60.0}, {2560, 5120, 61.0}, {5120, 7680, 62.0}, {7000, 9000, 63.0}});
    const auto edits = session.editCount();
    struct Case {
        const char* what;
        std::vector<std::uint32_t> ids;
        Failure expected;
    };
    const Case cases[] = {
        {"a single note", {1}, Failure::NotMergeable},
        {"a note with itself", {1, 1}, Failure::NotMergeable},
        {"an unselected note between", {1, 3}, Failure::NotMergeable},
        {"overlapping sources", {3, 4}, Failure::NotMergeable},
        {"unknown ids", {8, 9}, Failure::NotMergeable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Failure why = Failure::None;
        EXPECT_FALSE(session.mergeNotes(c.ids, &why));
        EXPECT_EQ(why, c.expected);
    }
    EXPECT_EQ(session.editCount(), edits);
    EXPECT_EQ(session.document().notes.size(), 4u);
}

TEST(MergeNotes, RefusesACurveBeyondTheStorableRange) {
    // 50 semitones apart: the merged curve would need 5000 cents.
    auto session = flatNotes({{0, 2560, 40.0}, {2560, 5120, 90.0}});
    const std::uint32_t ids[] = {1, 2};
    Failure why = Failure::None;
    EXPECT_FALSE(session.mergeNotes(ids, &why));
    EXPECT_EQ(why, Failure::TooLarge);
    EXPECT_EQ(session.document().notes.size(), 2u);
    EXPECT_TRUE(session.undoStates().empty());
}

} // namespace

namespace {

TEST(MergeNotes, PullsAMergedNoteBackInsideTheTimeline) {
    auto session = flatNotes({{0, 25600, 60.0}, {25600, 51200, 62.0}});
    const std::uint32_t first[] = {1};
    ASSERT_TRUE(session.resizeNote(1, 3200)); // squeezed to an eighth
    ASSERT_TRUE(session.moveTime(first, session.timelineLimitFrames()));
    ASSERT_EQ(note(session, 1).start, session.timelineLimitFrames() - 3200);
    const std::uint32_t ids[] = {1, 2};
    ASSERT_TRUE(session.mergeNotes(ids, nullptr));
    EXPECT_EQ(note(session, 1).length, 51200);
    EXPECT_EQ(note(session, 1).start + note(session, 1).length, session.timelineLimitFrames());
}

} // namespace
