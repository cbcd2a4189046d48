// Every elementary edit and whole-selection macro, one row each: the edit's result on every note, and
// the dry-run rule (a change records one history state and a new revision; no change records nothing).

#include "tests/model/document_fixture.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

using Ids = std::vector<std::uint32_t>;
using Field = double (*)(const np::Note&);
using Prep = void (*)(np::Document&);

constexpr std::int64_t kLimit = 134217728;   // timeline of mono audio
constexpr std::int64_t kEnd = kLimit - 4800; // the latest start of a note of 4800
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kT432 = np::tuningOffsetSemitones(432.0);

constexpr Field offset = [](const np::Note& n) { return n.pitchOffset; };
constexpr Field drift = [](const np::Note& n) { return n.driftScale; };
constexpr Field formant = [](const np::Note& n) { return n.formantShift; };
constexpr Field gain = [](const np::Note& n) { return n.gainDb; };
constexpr Field muted = [](const np::Note& n) { return n.muted ? 1.0 : 0.0; };
constexpr Field start = [](const np::Note& n) { return static_cast<double>(n.start); };
constexpr Field length = [](const np::Note& n) { return static_cast<double>(n.length); };

// Preparations of the table's document. At the top, pulling note 1 up to its nearest degree would pass +24.
constexpr Prep atTheTop = [](np::Document& d) {
    std::tie(d.notes[0].pitch, d.notes[0].pitchOffset) = std::tuple(59.6, 24.0);
};
constexpr Prep starts = [](np::Document& d) {
    std::tie(d.notes[0].start, d.notes[1].start, d.notes[2].start) = std::tuple(1499, 1500, 2600);
};
constexpr Prep flatFirst = [](np::Document& d) { d.notes[0].driftScale = 0.5; };
constexpr Prep offsetThird = [](np::Document& d) { d.notes[2].pitchOffset = 1.0; };
constexpr Prep lowThird = [](np::Document& d) { d.notes[2].pitch = 64.4; };
constexpr Prep shortThird = [](np::Document& d) { d.notes[2].sourceEnd = 20200; };
constexpr Prep highSecond = [](np::Document& d) { d.notes[1].pitch = 90.0; };
constexpr Prep roomOf5000 = [](np::Document& d) { d.notes[0].start = kLimit - 5000; };
constexpr Prep noRoom = [](np::Document& d) { d.notes[0].start = kLimit; };
constexpr Prep nearTheEnd = [](np::Document& d) { d.notes[0].start = kLimit - 4728; };
constexpr Prep negativeSpan = [](np::Document& d) { d.notes[0].sourceStart = kMax; };
constexpr Prep noAudio = [](np::Document& d) { d.audio = nullptr; };
constexpr Prep stereo = [](np::Document& d) { d.audio = cvtest::makeTestDocument(1, 0, 2).audio; };
// Note 1 as a user leaves it after a few drags: transposed, reshaped, quieter and half as wobbly.
constexpr Prep edited = [](np::Document& d) {
    std::tie(d.notes[0].pitchOffset, d.notes[0].formantShift, d.notes[0].gainDb, d.notes[0].driftScale) =
        std::tuple(2.0, 5.0, -3.0, 0.5);
};
constexpr Prep mutedFirst = [](np::Document& d) { d.notes[0].muted = true; };
constexpr Prep sharpFirst = [](np::Document& d) { d.notes[0].pitchOffset = 1.4; }; // sounds at 61.4
constexpr Prep stretchedFirst = [](np::Document& d) { d.notes[0].length = 9600; };
constexpr Prep stretchedNearTheEnd = [](np::Document& d) {
    std::tie(d.notes[0].start, d.notes[0].length) = std::tuple(kLimit - 9000, 9600);
};

using S = np::EditSession;
using I = std::int64_t;
using Edit = bool (*)(S&, const Ids&, double amount, I frames);
constexpr Edit pitch = [](S& s, const Ids& ids, double a, I) { return s.addPitchOffset(ids, a); };
constexpr Edit drifts = [](S& s, const Ids& ids, double a, I) { return s.setDriftScale(ids, a); };
constexpr Edit formants = [](S& s, const Ids& ids, double a, I) { return s.addFormantShift(ids, a); };
constexpr Edit gains = [](S& s, const Ids& ids, double a, I) { return s.addGainDb(ids, a); };
constexpr Edit mute = [](S& s, const Ids& ids, double, I) { return s.setMuted(ids, true); };
constexpr Edit move = [](S& s, const Ids& ids, double, I n) { return s.moveTime(ids, n); };
constexpr Edit resize = [](S& s, const Ids& ids, double, I n) { return s.resizeNote(ids[0], n); };
constexpr Edit snap = [](S& s, const Ids& ids, double a4, I) { return s.setA4Hz(a4), s.snapToScale(ids); };
constexpr Edit correct = [](S& s, const Ids& ids, double a, I quarters) { // flatten in quarters
    return s.applyPitchCorrection(ids, a, static_cast<double>(quarters) / 4);
};
constexpr Edit quantize = [](S& s, const Ids& ids, double a, I grid) {
    return s.applyTimeQuantize(ids, grid, a);
};
constexpr Edit unison = [](S& s, const Ids& ids, double a, I) { return s.applyUnison(ids, a); };

struct Case {
    const char* what;
    Prep prep;
    Edit edit;
    Ids ids;
    double amount;
    std::int64_t frames;
    Field field;
    std::vector<double> values; // of notes 1 to 4; empty: nothing may change
};

TEST(NoteEdits, EachEditChangesWhatItShouldAndRecordsOneStepOrNothing) {
    const Ids all{1, 2, 3, 4};
    // clang-format off
    const std::vector<Case> cases{
        {"pitch clamps at +24", nullptr, pitch, {1}, 30, 0, offset, {24, 0, 0, 0}},
        {"pitch clamps at -24", nullptr, pitch, {1}, -30, 0, offset, {-24, 0, 0, 0}},
        {"drift clamps at 0", nullptr, drifts, {2}, -1, 0, drift, {1, 0, 1, 1}},
        {"formant clamps at +12", nullptr, formants, {1}, 20, 0, formant, {12, 0, 0, 0}},
        {"gain clamps at +24", nullptr, gains, {1}, 30, 0, gain, {24, 0, 0, 0}},
        {"pitch adds to an offset", edited, pitch, {1}, -3, 0, offset, {-1, 0, 0, 0}},
        {"drift replaces a scale", edited, drifts, {1}, 1.5, 0, drift, {1.5, 1, 1, 1}},
        {"formant adds to a shift", edited, formants, {1}, -2, 0, formant, {3, 0, 0, 0}},
        {"gain adds to a gain", edited, gains, {1}, 6, 0, gain, {3, 0, 0, 0}},
        {"gain stops at +24 from a gain", edited, gains, {1}, 30, 0, gain, {24, 0, 0, 0}},
        {"a repeated id is edited once", nullptr, pitch, {2, 2, 1}, 1, 0, offset, {1, 1, 0, 0}},
        {"nothing more at the limit", atTheTop, pitch, {1}, 1, 0, offset, {}},
        {"drift clamps at 2", nullptr, drifts, {1, 3}, 3, 0, drift, {2, 1, 2, 1}},
        {"formant clamps at -12", nullptr, formants, {2}, -20, 0, formant, {0, -12, 0, 0}},
        {"gain clamps at -60", nullptr, gains, {1}, -200, 0, gain, {-60, 0, 0, 0}},
        {"mute", nullptr, mute, {1, 2}, 1, 0, muted, {1, 1, 0, 0}},
        {"mute a partly muted selection", mutedFirst, mute, {1, 2}, 1, 0, muted, {1, 1, 0, 0}},
        {"pitch by NaN", nullptr, pitch, all, kNan, 0, offset, {}},
        {"gain by NaN", nullptr, gains, all, kNan, 0, gain, {}},
        {"move to 0, unknown skipped", nullptr, move, {99, 2}, 0, -20000, start, {0, 0, 19200, 28800}},
        {"move stops at the end", nullptr, move, {2}, 0, kMax, start, {0, kEnd, 19200, 28800}},
        {"move without audio", noAudio, move, {2}, 0, kMax, start, {0, kEnd, 19200, 28800}},
        {"a stretched note stops at the end", stretchedFirst, move, {1}, 0, kMax, start,
         {kLimit - 9600, 9600, 19200, 28800}},
        {"move over stereo audio", stereo, move, {2}, 0, kMax, start, {0, kLimit / 2 - 4800, 19200, 28800}},
        {"resize to an eighth", nullptr, resize, {1}, 0, 10, length, {600, 4800, 4800, 4800}},
        {"resize to at least 256", shortThird, resize, {3}, 0, 10, length, {4800, 4800, 256, 4800}},
        {"resize to eight times", nullptr, resize, {1}, 0, 100000, length, {38400, 4800, 4800, 4800}},
        {"resize a stretched note by its source", stretchedFirst, resize, {1}, 0, 100000, length,
         {38400, 4800, 4800, 4800}},
        {"resize within the room", roomOf5000, resize, {1}, 0, 100000, length, {5000, 4800, 4800, 4800}},
        {"resize without room", noRoom, resize, {1}, 0, 500, length, {1, 4800, 4800, 4800}},
        {"resize a negative span", negativeSpan, resize, {1}, 0, 500, length, {1, 4800, 4800, 4800}},
        {"snap the sounding pitch, ties up", offsetThird, snap, {2, 3}, 440, 0, offset, {0, 1, 2, 0}},
        {"snap at A4 = 432 Hz", nullptr, snap, {1}, 432, 0, offset, {kT432, 0, 0, 0}},
        {"snap within the offset range", atTheTop, snap, {1}, 440, 0, offset, {}},
        {"correct: amount 5 is 1", lowThird, correct, all, 5, 1, offset, {0, 1, -0.4, 0}},
        {"correct: flatten 1/4", nullptr, correct, all, 5, 1, drift, {0.75, 0.75, 0.75, 1}},
        {"correct: flatten above 1", nullptr, correct, {1}, 0, 12, drift, {0, 1, 1, 1}},
        {"correct: flatten below 0", flatFirst, correct, {1}, 0, -4, drift, {1, 1, 1, 1}},
        {"correct a transposed note", sharpFirst, correct, {1}, 0.5, 0, offset, {1.7, 0, 0, 0}},
        {"correct: by NaN", nullptr, correct, all, kNan, 0, drift, {}},
        {"correct within the offset range", atTheTop, correct, {1}, 1, 0, offset, {}},
        {"quantize, halves up", starts, quantize, {1, 2, 3}, 5, 1000, start, {1000, 2000, 3000, 28800}},
        {"quantize by half", starts, quantize, {1, 2, 3}, 0.5, 1000, start, {1250, 1750, 2800, 28800}},
        {"quantize to the end", nearTheEnd, quantize, {1}, 1, 1000, start, {kEnd, 9600, 19200, 28800}},
        {"quantize a stretched note to the end", stretchedNearTheEnd, quantize, {1}, 1, 1000, start,
         {kLimit - 9600, 9600, 19200, 28800}},
        {"quantize without a grid", nullptr, quantize, all, 1, 0, start, {}},
        {"quantize by NaN", nullptr, quantize, all, kNan, 1000, start, {}},
        {"unison, within range", highSecond, unison, {2, 3, 4, 9}, 60.5, 0, offset, {0, -24, -1.5, 0}},
        {"unison lands transposed notes on it", edited, unison, {1, 2}, 64, 0, offset, {4, 3, 0, 0}},
        {"unison to infinity", nullptr, unison, all, kInf, 0, offset, {}},
    };
    // clang-format on
    // Notes 1 to 4 start at 0, 9600, 19200 and 28800 with pitches 60 to 63 and 4800 samples of source
    // each; note 4 is unpitched. The key is C major.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        np::Document document = cvtest::makeTestDocument(4);
        if (c.prep != nullptr)
            c.prep(document);
        np::EditSession session = cvtest::sessionOf(std::move(document));
        session.setKeyScale({0, 1});
        const bool changed = c.edit(session, c.ids, c.amount, c.frames);
        EXPECT_EQ(
            std::tuple(changed, session.undoStates().size(), session.editCount(), session.contentRevision()),
            c.values.empty() ? std::tuple(false, 0ul, 1u, 1u) : std::tuple(true, 1ul, 2u, 2u));
        for (std::uint32_t id = 1; id <= c.values.size(); ++id)
            EXPECT_NEAR(c.field(cvtest::noteOf(session, id)), c.values[id - 1], 1e-9) << "note " << id;
    }
}

// A move of several notes is one move of the group: limited so that its earliest note stops at 0 and its
// latest ends at the timeline's end, the notes keep their spacing. Notes off the timeline (damaged, or
// longer than it) and unknown ids limit nothing; each note is still clamped on its own.
TEST(NoteEdits, AMoveOfSeveralNotesKeepsTheirSpacing) {
    constexpr Prep later = [](np::Document& d) {
        for (np::Note& n : d.notes)
            n.start += 3000;
    };
    constexpr Prep beforeTheStart = [](np::Document& d) { d.notes[0].start = -500; };
    constexpr Prep overlong = [](np::Document& d) { d.notes[0].length = kLimit + 10; };
    const struct {
        const char* what;
        Prep prep;
        Ids ids;
        std::int64_t frames;
        std::int64_t limited;       // limitedMoveFrames
        std::vector<double> starts; // of notes 1 to 4; empty: nothing may change
    } cases[] = {
        {"back from the start", nullptr, {1, 2, 3, 4}, -5000, 0, {}},
        {"back to the start", later, {1, 2, 3, 4}, -5000, -3000, {0, 9600, 19200, 28800}},
        {"back, the earliest listed stops", nullptr, {3, 2}, -20000, -9600, {0, 0, 9600, 28800}},
        {"forward to the end", nullptr, {3, 4}, kMax, kEnd - 28800, {0, 9600, kEnd - 9600, kEnd}},
        {"an unknown id is skipped", nullptr, {99, 3, 4}, -100000, -19200, {0, 9600, 0, 9600}},
        {"one note as before", nullptr, {2}, -20000, -9600, {0, 0, 19200, 28800}},
        {"a note before the start", beforeTheStart, {1, 2}, 2000, 2000, {1500, 11600, 19200, 28800}},
        {"a note longer than the timeline", overlong, {1, 2}, 1000, 1000, {0, 10600, 19200, 28800}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        np::Document document = cvtest::makeTestDocument(4);
        if (c.prep != nullptr)
            c.prep(document);
        np::EditSession session = cvtest::sessionOf(std::move(document));
        EXPECT_EQ(session.limitedMoveFrames(c.ids, c.frames), c.limited);
        EXPECT_EQ(session.moveTime(c.ids, c.frames), !c.starts.empty());
        for (std::uint32_t id = 1; id <= c.starts.size(); ++id)
            EXPECT_EQ(cvtest::noteOf(session, id).start, c.starts[id - 1]) << "note " << id;
    }
}

} // namespace
