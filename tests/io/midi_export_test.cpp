#include "engine/io/midi_export.h"
#include "engine/model/key_scale.h"
#include "tests/io/midi_reader.h"

#include <cmath>
#include <gtest/gtest.h>
#include <optional>
#include <tuple>

namespace {

using Bytes = std::vector<std::uint8_t>;
using cvtest::kOff;
using cvtest::kOn;

using cvtest::ParsedMidi;
using cvtest::readMidi;

ParsedMidi parse(const Bytes& bytes) {
    auto parsed = readMidi(bytes);
    EXPECT_TRUE(parsed.has_value()) << "the exported file is not a well-formed Standard MIDI File";
    return parsed.value_or(ParsedMidi{});
}

np::Note makeNote(double pitch, std::int64_t start, std::int64_t length) {
    np::Note n;
    n.pitch = pitch;
    n.start = start;
    n.length = length;
    return n;
}

np::Document makeDoc(std::vector<np::Note> notes, double sampleRate = 48000.0) {
    np::Document d;
    d.sampleRate = sampleRate;
    for (auto& n : notes) {
        n.id = d.nextNoteId++;
    }
    d.notes = std::move(notes);
    return d;
}

// At 48000 Hz and 120 bpm a tick is 50 samples.
Bytes exportAt120(std::vector<np::Note> notes, double tuning = 0.0) {
    return np::exportMidi(makeDoc(std::move(notes)), 120.0, tuning);
}

} // namespace

TEST(MidiExport, OneNoteGivesTheExactFileBytes) {
    const Bytes expected = {'M',  'T',  'h',  'd',  0,    0,    0,    6,
                            0,    0,    0,    1,    0x01, 0xE0,           // format 0, one track, 480 ppq
                            'M',  'T',  'r',  'k',  0,    0,    0,    21, // track length
                            0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,     // tempo 500000 us
                            0x83, 0x60, 0x90, 60,   96,                   // +480 note-on, velocity 96
                            0x83, 0x60, 0x80, 60,   64,                   // +480 note-off, velocity 64
                            0x00, 0xFF, 0x2F, 0x00};                      // end of track
    EXPECT_EQ(exportAt120({makeNote(60.0, 24000, 24000)}), expected);
}

TEST(MidiExport, TempoAndRateSetTheTempoEventAndTheTicks) {
    // A note of one second ends after 480 x bpm / 60 ticks whatever the rate.
    for (const auto& [bpm, rate, micros] : {std::tuple{90.0, 44100.0, 666667u},
                                            {133.0, 96000.0, 451128u},
                                            {20.0, 8000.0, 3000000u},
                                            {300.0, 384000.0, 200000u}}) {
        SCOPED_TRACE(bpm);
        const auto midi = parse(
            np::exportMidi(makeDoc({makeNote(60.0, 0, static_cast<std::int64_t>(rate))}, rate), bpm, 0.0));
        EXPECT_EQ(midi.tempos, std::vector<std::uint64_t>{micros});
        ASSERT_EQ(midi.notes.size(), 2u);
        EXPECT_EQ(midi.notes[1].tick, static_cast<std::uint64_t>(std::llround(8.0 * bpm)));
    }
}

TEST(MidiExport, AtOneTickNotesEndBeforeOthersStartAndKeepDocumentOrder) {
    // The second note starts on the same key exactly where the first ends; two more start with it.
    const auto midi = parse(exportAt120({makeNote(62.0, 0, 24000), makeNote(62.0, 24000, 24000),
                                         makeNote(67.0, 24000, 4800), makeNote(60.0, 24000, 4800)}));
    const std::vector<std::tuple<std::uint64_t, std::uint8_t, std::uint8_t>> expected = {
        {0, kOn, 62},   {480, kOff, 62}, {480, kOn, 62},  {480, kOn, 67},
        {480, kOn, 60}, {576, kOff, 67}, {576, kOff, 60}, {960, kOff, 62}};
    std::vector<std::tuple<std::uint64_t, std::uint8_t, std::uint8_t>> seen;
    for (const auto& e : midi.notes) {
        seen.emplace_back(e.tick, e.status, e.note);
    }
    EXPECT_EQ(seen, expected);
}

TEST(MidiExport, TinyNotesLastAtLeastOneTick) {
    // Start and length in samples, then the ticks of note-on and note-off: 20 samples are 0.4 tick,
    // 25 samples exactly half a tick.
    const std::int64_t cases[][4] = {{0, 1, 0, 1},   {0, 20, 0, 1},         {0, 25, 0, 1},
                                     {25, 25, 1, 2}, {24975, 50, 500, 501}, {0, 75, 0, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c[0] << "+" << c[1]);
        const auto midi = parse(exportAt120({makeNote(60.0, c[0], c[1])}));
        ASSERT_EQ(midi.notes.size(), 2u);
        EXPECT_EQ(midi.notes[0].tick, static_cast<std::uint64_t>(c[2]));
        EXPECT_EQ(midi.notes[1].tick, static_cast<std::uint64_t>(c[3]));
    }
}

TEST(MidiExport, NoteNumberAndVelocityFollowPitchTuningAndGain) {
    const double a432 = 12.0 * std::log2(432.0 / 440.0); // about -0.318 semitones
    const struct {
        double pitch, pitchOffset, tuning, gainDb;
        int note, velocity;
    } cases[] = {
        {60.0, 0.0, 0.5, 0.0, 60, 96},    {60.0, 0.0, 0.6, -10.0, 59, 76},   {60.0, 0.0, -0.5, 0.25, 61, 97},
        {68.7, 0.0, a432, -47.5, 69, 1},  {68.1, 0.0, a432, -48.0, 68, 1},   {60.0, 12.0, 0.0, -60.0, 72, 1},
        {60.0, -24.0, 0.0, -47.0, 36, 2}, {127.4, 0.0, 0.0, 15.5, 127, 127}, {60.0, 0.0, 0.0, 24.0, 60, 127},
        {60.0, 0.0, 0.0, 15.2, 60, 126},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.pitch << " " << c.pitchOffset << " " << c.tuning << " " << c.gainDb);
        np::Note n = makeNote(c.pitch, 0, 4800);
        n.pitchOffset = c.pitchOffset;
        n.gainDb = c.gainDb;
        const auto midi = parse(exportAt120({n}, c.tuning));
        ASSERT_EQ(midi.notes.size(), 2u);
        EXPECT_EQ(std::tie(midi.notes[0].note, midi.notes[0].velocity), std::tuple(c.note, c.velocity));
        EXPECT_EQ(std::tie(midi.notes[1].note, midi.notes[1].velocity), std::tuple(c.note, 64));
    }
}

// A session tuned to another A4: notes sung in tune there (their analysed pitch, measured against
// 440 Hz, lies off the grid by the tuning offset), some of them dragged by whole semitones, export as the
// notes sung. A tuning offset applied the wrong way round puts every note a semitone off.
TEST(MidiExport, NotesSungAtAnotherA4ExportAsTheNotesSung) {
    struct Sung {
        int note;     // in the session's tuning
        double cents; // sung this far off it
        double offsetSemitones;
    };
    const std::vector<Sung> sung = {
        {57, 0.0, 0.0}, {69, 0.0, 0.0}, {72, 30.0, 0.0}, {64, -30.0, 2.0}, {60, 0.0, -5.0}};
    for (const double a4 : {432.0, 448.0}) {
        SCOPED_TRACE(a4);
        const double tuning = np::tuningOffsetSemitones(a4);
        std::vector<np::Note> notes;
        std::vector<int> expected;
        for (const Sung& s : sung) {
            np::Note n = makeNote(s.note + tuning + s.cents / 100.0,
                                  4800 * static_cast<std::int64_t>(notes.size()), 4800);
            n.pitchOffset = s.offsetSemitones;
            notes.push_back(n);
            expected.push_back(s.note + static_cast<int>(s.offsetSemitones));
        }
        std::vector<int> exported;
        for (const auto& e : parse(exportAt120(notes, tuning)).notes) {
            if (e.status == kOn)
                exported.push_back(e.note);
        }
        EXPECT_EQ(exported, expected);
    }
}

TEST(MidiExport, UnplayableNotesAreLeftOutWithoutDisturbingTheRest) {
    const np::Note kept1 = makeNote(60.0, 0, 4800);
    const np::Note kept2 = makeNote(-0.4, 9600, 4800); // sounds at 0 after rounding
    np::Note muted = makeNote(64.0, 4800, 4800);
    muted.muted = true;
    np::Note infGain = makeNote(62.0, 4800, 4800);
    infGain.gainDb = INFINITY;
    np::Note offsetPastTop = makeNote(110.0, 4800, 4800);
    offsetPastTop.pitchOffset = 24.0;
    const auto reference = exportAt120({kept1, kept2});
    EXPECT_EQ(parse(reference).notes.size(), 4u);
    EXPECT_EQ(exportAt120({muted, kept1, makeNote(65.0, 4800, 0), makeNote(65.0, 4800, -10),
                           makeNote(127.6, 4800, 4800), makeNote(-0.6, 4800, 4800), makeNote(62.0, -1, 4800),
                           makeNote(NAN, 4800, 4800), infGain, offsetPastTop,
                           makeNote(62.0, INT64_MAX - 10, 100), kept2}),
              reference);
}

TEST(MidiExport, NotesEndingPastTheLargestDeltaAreLeftOut) {
    // A note ending at 13421772750 samples ends exactly on tick 0x0FFFFFFF.
    const std::int64_t lastSample = 13421772750;
    const auto edge = parse(exportAt120({makeNote(60.0, lastSample - 48000, 48000)}));
    ASSERT_EQ(edge.notes.size(), 2u);
    EXPECT_EQ(edge.notes[1].tick, 0x0FFFFFFFu);
    // One tick further, or so far out that a 32-bit tick would wrap to a small number, the note is
    // dropped; the earlier note in the same document stays exactly where it was.
    const np::Note early = makeNote(60.0, 0, 4800);
    const auto reference = exportAt120({early});
    for (const std::int64_t start :
         {lastSample - 48000 + 50, lastSample, std::int64_t{214748364800} + 48000, std::int64_t{1} << 60}) {
        SCOPED_TRACE(start);
        EXPECT_EQ(exportAt120({early, makeNote(61.0, start, 48000)}), reference);
    }
    // A note that only starts on the last tick would need its note-off one tick past it.
    EXPECT_TRUE(exportAt120({makeNote(60.0, lastSample, 1)}).empty());
}

TEST(MidiExport, RefusesWhatCannotBeExported) {
    const auto one = makeDoc({makeNote(60.0, 0, 4800)});
    np::Note muted = makeNote(60.0, 0, 4800);
    muted.muted = true;
    const struct {
        const char* what;
        np::Document doc;
        double bpm, tuning;
    } cases[] = {
        {"no notes", makeDoc({}), 120.0, 0.0},
        {"all muted", makeDoc({muted, muted}), 120.0, 0.0},
        {"rate too low", makeDoc({makeNote(60.0, 0, 4800)}, 7999.0), 120.0, 0.0},
        {"rate too high", makeDoc({makeNote(60.0, 0, 4800)}, 384001.0), 120.0, 0.0},
        {"rate not finite", makeDoc({makeNote(60.0, 0, 4800)}, NAN), 120.0, 0.0},
        {"tempo too low", one, 19.9, 0.0},
        {"tempo too high", one, 300.1, 0.0},
        {"tempo not finite", one, NAN, 0.0},
        {"tuning not finite", one, 120.0, INFINITY},
        {"too many notes", makeDoc(std::vector<np::Note>(100001, makeNote(60.0, 0, 4800))), 120.0, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(np::exportMidi(c.doc, c.bpm, c.tuning).empty());
    }
    EXPECT_FALSE(exportAt120(std::vector<np::Note>(100000, makeNote(60.0, 0, 4800))).empty());
    EXPECT_FALSE(np::exportMidi(makeDoc({makeNote(60.0, 0, 4800)}, 8000.0), 20.0, 0.0).empty());
    EXPECT_FALSE(np::exportMidi(makeDoc({makeNote(60.0, 0, 4800)}, 384000.0), 300.0, 0.0).empty());
}

TEST(MidiExport, StoppingAtAnyPollGivesNothing) {
    std::vector<np::Note> notes;
    for (int i = 0; i < 700; ++i) {
        notes.push_back(makeNote(40.0 + i % 40, i * 2400, 2000));
    }
    const auto doc = makeDoc(notes);
    int polls = 0;
    const auto full = np::exportMidi(doc, 120.0, 0.0, [&] { return ++polls > 0; });
    EXPECT_EQ(parse(full).notes.size(), 1400u);
    // Once the arguments are checked; notes 0, 256 and 512; after collecting; after sorting; events 0,
    // 512 and 1024; at the end. A single note is polled at each of the six points once.
    EXPECT_EQ(polls, 10);
    int single = 0;
    EXPECT_FALSE(
        np::exportMidi(makeDoc({makeNote(60.0, 0, 4800)}), 120.0, 0.0, [&] { return ++single > 0; }).empty());
    EXPECT_EQ(single, 6);
    for (int stopAt = 0; stopAt < polls; ++stopAt) {
        SCOPED_TRACE(stopAt);
        int seen = 0;
        EXPECT_TRUE(np::exportMidi(doc, 120.0, 0.0, [&] { return seen++ < stopAt; }).empty());
    }
}
