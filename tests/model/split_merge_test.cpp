#include "tests/model/document_fixture.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

using cvtest::noteOf;
using Failure = np::EditSession::MergeNotesFailure;
using Ids = std::vector<std::uint32_t>;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

TEST(SplitNote, CutsTheSourceAndTheCurvesAndRecentresEachPiece) {
    // Two seconds at hop 256 (375 hops): the left half alternates 0 and 10 cents, the right 30 and 40.
    np::Document document = cvtest::makeSpanDocument({{0, 96000, 60.0}, {100000, 104800, 62.0}});
    std::vector<float> cents(375);
    for (std::size_t i = 0; i < cents.size(); ++i)
        cents[i] = (i < 187 ? 0.0f : 30.0f) + static_cast<float>(i % 2) * 10;
    document.notes[0].pitchCurve = std::make_shared<const std::vector<float>>(std::move(cents));
    auto session = cvtest::sessionOf(std::move(document));
    ASSERT_TRUE(session.moveTime(Ids{2}, -100000)); // the list is no longer sorted by start
    ASSERT_EQ(session.splitNote(1, 48000), 3u);
    const auto& notes = session.document().notes;
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[1].id, 3u) << "the right piece follows the left one";
    const auto& l = noteOf(session, 1);
    const auto& r = noteOf(session, 3);
    EXPECT_EQ(std::tuple(l.sourceEnd, l.length, r.sourceStart, r.start, r.length),
              std::tuple(48000, 48000, 48000, 48000, 48000));
    // 187 hops go left, whose median is 0; the right piece (an even count) takes its upper median, 40.
    EXPECT_EQ(std::tuple(l.pitch, l.pitchCurve->size(), l.levelCurve->size()),
              std::tuple(60.0, 187ul, 187ul));
    EXPECT_NEAR(r.pitch, 60.4, 1e-9);
    EXPECT_EQ(std::tuple(r.pitchCurve->size(), r.levelCurve->size(), r.pitchCurve->front()),
              std::tuple(188ul, 188ul, 0.0f));
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(notes.size(), 2u);
    EXPECT_EQ(session.splitNote(1, 30000), 4u) << "id 3 is not given again";
}

// The cut (at - start) x span / length needs up to 126 bits before the division.
TEST(SplitNote, CutsExactlyNearTheLimits) {
    struct Case {
        std::int64_t span, length, at, cut;
        std::size_t leftValues; // of a 16-value curve at hop 256: at least one each side
    };
    for (const Case& c :
         {Case{4000, 4000, 1, 1, 1}, // dividing first would give 0
          Case{(std::int64_t{1} << 53) + 3, 2, 1, (std::int64_t{1} << 52) + 1, 15}, // double: +1
          Case{kMax, 1000, 999, 9214148664817921031, 15},                           // above 9.2e18
          Case{5355851478661832173, 1017287, 797616, 4199319201960052502, 15}}) {   // 80 bits: +1
        SCOPED_TRACE(c.span);
        np::Document document = cvtest::makeTestDocument(1);
        document.notes[0].sourceEnd = c.span;
        document.notes[0].length = c.length;
        auto session = cvtest::sessionOf(std::move(document));
        ASSERT_EQ(session.splitNote(1, c.at), 2u);
        EXPECT_EQ(std::tuple(noteOf(session, 1).sourceEnd, noteOf(session, 2).sourceStart,
                             noteOf(session, 1).pitchCurve->size()),
                  std::tuple(c.cut, c.cut, c.leftValues));
    }
}

// Notes 1 to 4 at sources 0, 9600, 19200 and 28800, 4800 samples each, with four hops of 1200; a split at
// 2400 cuts note 1 at its third hop.
TEST(SplitAndMerge, RefusalsChangeNothing) {
    const auto curve = [](std::vector<float> cents, double pitch) {
        return [=](np::Document& d) {
            d.notes[0].pitchCurve = std::make_shared<const std::vector<float>>(cents);
            d.notes[0].pitch = pitch;
        };
    };
    constexpr std::int64_t kMerge = -1; // the row merges its ids
    const struct {
        const char* what;
        std::function<void(np::Document&)> prep;
        Ids ids;
        std::int64_t at;
        Failure why = Failure::NotMergeable;
    } cases[] = {
        {"split at the start", {}, {1}, 0},
        {"split at the end", {}, {1}, 4800},
        {"split outside", {}, {1}, 6000},
        {"split an unknown note", {}, {9}, 100},
        {"a cut below one source sample", [](auto& d) { d.notes[0].sourceEnd = 100; }, {1}, 1},
        {"the last id", [](auto& d) { d.nextNoteId = std::numeric_limits<std::uint32_t>::max(); }, {1}, 2400},
        {"the note limit", [](auto& d) { d.notes.resize(100000, d.notes[0]); }, {1}, 2400},
        {"a piece beyond the curve range", curve({-4800, 4800, 0, 0}, 60), {1}, 2400},
        {"a piece beyond the pitch range", curve({0, 0, 30, 30}, 155.9), {1}, 2400},
        {"merge a single note", {}, {1}, kMerge},
        {"merge a note with itself", {}, {1, 1}, kMerge},
        {"merge unknown notes", {}, {8, 9}, kMerge},
        {"merge across a note", {}, {1, 3}, kMerge},
        {"merge overlapping sources", [](auto& d) { d.notes[1].sourceStart = 4000; }, {1, 2}, kMerge},
        {"merge 50 semitones apart",
         [](auto& d) { d.notes[1].pitch = 110; },
         {1, 2},
         kMerge,
         Failure::TooLarge},
        {"merge a curve too long",
         [](auto& d) { d.notes[3].sourceEnd = kMax; },
         {3, 4},
         kMerge,
         Failure::TooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        np::Document document = cvtest::makeTestDocument(4, 4);
        document.track.hop = 1200;
        if (c.prep)
            c.prep(document);
        auto session = cvtest::sessionOf(std::move(document));
        Failure why = Failure::None;
        EXPECT_FALSE(c.at == kMerge ? session.mergeNotes(c.ids, &why)
                                    : session.splitNote(c.ids[0], c.at) != 0);
        EXPECT_EQ(why, c.at == kMerge ? c.why : Failure::None);
        EXPECT_EQ(std::tuple(session.editCount(), session.undoStates().size()), std::tuple(1u, 0ul));
    }
}

// Merging resets a stretch, so a merged note may reach past the end of the timeline: it is pulled back.
TEST(MergeNotes, JoinsNotesThatFollowInTheSource) {
    auto session =
        cvtest::sessionOf(cvtest::makeSpanDocument({{0, 2560, 60}, {5120, 7680, 61}, {20000, 22560, 62}}));
    const std::int64_t limit = session.timelineLimitFrames();
    ASSERT_TRUE(session.resizeNote(1, 320) && session.moveTime(Ids{1}, limit)); // an eighth, at the end
    Failure why = Failure::NotMergeable;
    ASSERT_TRUE(session.mergeNotes(Ids{2, 1, 2}, &why)); // listed twice, still one note
    EXPECT_EQ(why, Failure::None);
    ASSERT_EQ(session.document().notes.size(), 2u);
    const auto& merged = noteOf(session, 1);
    EXPECT_EQ(std::tuple(merged.pitch, merged.sourceEnd, merged.start, merged.length),
              std::tuple(60.0, 7680, limit - 7680, 7680));
    ASSERT_EQ(merged.pitchCurve->size(), 30u);
    // The gap between the notes stays 0; the second note's part is 100 cents up.
    EXPECT_EQ(std::tuple((*merged.pitchCurve)[15], (*merged.pitchCurve)[20], (*merged.levelCurve)[15]),
              std::tuple(0.0f, 100.0f, 0.0f));
    ASSERT_TRUE(session.undo());
    EXPECT_EQ(std::tuple(session.document().notes.size(), noteOf(session, 1).start),
              std::tuple(3ul, limit - 320));
}

} // namespace

namespace {

// What the user set on a note survives a split into both pieces and a merge into the joined note; a
// split of a moved and stretched note cuts its source in proportion, a merge undoes only the stretch.
TEST(SplitAndMerge, EditedNotesKeepTheirEdits) {
    np::Document document = cvtest::makeTestDocument(3);
    np::Note& first = document.notes[0];
    std::tie(first.start, first.length) = std::tuple(1000, 9600); // moved, twice as long
    std::tie(first.pitchOffset, first.driftScale, first.formantShift, first.gainDb, first.muted) =
        std::tuple(2.0, 0.5, -3.0, -6.0, true);
    document.notes[1].pitchOffset = -5.0;
    document.notes[2].sourceStart = 14400; // touches the merged span but does not lie inside it
    auto session = cvtest::sessionOf(std::move(document));
    const auto edits = [&](std::uint32_t id) {
        const np::Note& n = noteOf(session, id);
        return std::tuple(n.pitchOffset, n.driftScale, n.formantShift, n.gainDb, n.muted);
    };
    const auto placed = [&](std::uint32_t id) {
        const np::Note& n = noteOf(session, id);
        return std::tuple(n.sourceStart, n.sourceEnd, n.start, n.length);
    };
    const auto firstEdits = std::tuple(2.0, 0.5, -3.0, -6.0, true);

    ASSERT_EQ(session.splitNote(1, 3400), 4u); // a quarter into the note's 9600 samples
    EXPECT_EQ(placed(1), std::tuple(0, 1200, 1000, 2400));
    EXPECT_EQ(placed(4), std::tuple(1200, 4800, 3400, 7200));
    EXPECT_EQ(edits(1), firstEdits);
    EXPECT_EQ(edits(4), firstEdits);
    EXPECT_EQ(std::pair(noteOf(session, 1).pitchCurve->size(), noteOf(session, 4).pitchCurve->size()),
              std::pair(4ul, 12ul))
        << "the curve is cut where the source is, 1200 samples in";

    ASSERT_TRUE(session.undo());
    ASSERT_TRUE(session.mergeNotes(Ids{2, 1}, nullptr));
    EXPECT_EQ(placed(1), std::tuple(0, 14400, 1000, 14400));
    EXPECT_EQ(edits(1), firstEdits) << "the first note in the source survives with its edits";
    EXPECT_EQ(session.document().findNote(2), nullptr);
}

} // namespace
