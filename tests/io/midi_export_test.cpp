#include "engine/io/midi_export.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// An independent reader of the file, written from the Standard MIDI File layout rather than from the
// exporter: it walks the chunks, decodes deltas and running status, and refuses anything malformed.
struct ParsedEvent {
    std::uint64_t tick = 0;
    std::uint8_t status = 0;
    std::uint8_t note = 0;
    std::uint8_t velocity = 0;
};

struct ParsedMidi {
    int format = -1;
    int trackCount = -1;
    int division = -1;
    std::vector<std::uint32_t> tempos; // microseconds per quarter
    std::vector<ParsedEvent> notes;    // note-on and note-off in file order
    bool endOfTrack = false;
};

class MidiReader {
public:
    explicit MidiReader(const Bytes& bytes) : b_(bytes) {}

    std::optional<ParsedMidi> read() {
        ParsedMidi out;
        std::uint32_t headerLength = 0;
        if (!tag("MThd") || !be(4, headerLength) || headerLength != 6) {
            return std::nullopt;
        }
        std::uint32_t format = 0, tracks = 0, division = 0;
        if (!be(2, format) || !be(2, tracks) || !be(2, division)) {
            return std::nullopt;
        }
        out.format = static_cast<int>(format);
        out.trackCount = static_cast<int>(tracks);
        out.division = static_cast<int>(division);
        std::uint32_t length = 0;
        if (!tag("MTrk") || !be(4, length) || pos_ + length != b_.size()) {
            return std::nullopt;
        }
        std::uint64_t tick = 0;
        std::uint8_t running = 0;
        while (pos_ < b_.size() && !out.endOfTrack) {
            std::uint32_t delta = 0;
            if (!vlq(delta)) {
                return std::nullopt;
            }
            tick += delta;
            std::uint8_t status = b_[pos_];
            if (status & 0x80) {
                ++pos_;
            } else if (running == 0) {
                return std::nullopt;
            } else {
                status = running;
            }
            if (status == 0xFF) {
                if (pos_ + 1 > b_.size()) {
                    return std::nullopt;
                }
                const std::uint8_t type = b_[pos_++];
                std::uint32_t metaLength = 0;
                if (!vlq(metaLength) || pos_ + metaLength > b_.size()) {
                    return std::nullopt;
                }
                if (type == 0x51 && metaLength == 3) {
                    out.tempos.push_back((std::uint32_t{b_[pos_]} << 16) |
                                         (std::uint32_t{b_[pos_ + 1]} << 8) | b_[pos_ + 2]);
                } else if (type == 0x2F && metaLength == 0) {
                    out.endOfTrack = true;
                }
                pos_ += metaLength;
                continue;
            }
            if ((status & 0xE0) != 0x80 || pos_ + 2 > b_.size() || (b_[pos_] & 0x80) ||
                (b_[pos_ + 1] & 0x80)) {
                return std::nullopt; // only note events are expected in this file
            }
            running = status;
            out.notes.push_back({tick, status, b_[pos_], b_[pos_ + 1]});
            pos_ += 2;
        }
        if (!out.endOfTrack || pos_ != b_.size()) {
            return std::nullopt;
        }
        return out;
    }

private:
    bool tag(const char* t) {
        if (pos_ + 4 > b_.size() || std::string(b_.begin() + pos_, b_.begin() + pos_ + 4) != t) {
            return false;
        }
        pos_ += 4;
        return true;
    }
    bool be(int n, std::uint32_t& v) {
        if (pos_ + n > b_.size()) {
            return false;
        }
        v = 0;
        for (int i = 0; i < n; ++i) {
            v = (v << 8) | b_[pos_++];
        }
        return true;
    }
    bool vlq(std::uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) { // a delta never takes more than four bytes
            if (pos_ >= b_.size()) {
                return false;
            }
            const std::uint8_t byte = b_[pos_++];
            v = (v << 7) | (byte & 0x7Fu);
            if (!(byte & 0x80)) {
                return true;
            }
        }
        return false;
    }

    const Bytes& b_;
    std::size_t pos_ = 0;
};

ParsedMidi parse(const Bytes& bytes) {
    auto parsed = MidiReader(bytes).read();
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
    std::uint32_t id = 1;
    for (auto& n : notes) {
        n.id = id++;
    }
    d.notes = std::move(notes);
    d.nextNoteId = id;
    return d;
}

constexpr std::uint8_t kOn = 0x90;
constexpr std::uint8_t kOff = 0x80;

TEST(MidiExport, OneNoteGivesTheExactFileBytes) {
    // 48000 Hz at 120 bpm is 0.02 ticks per sample: half a second in, half a second long.
    const auto bytes = np::exportMidi(makeDoc({makeNote(60.0, 24000, 24000)}), 120.0, 0.0);
    const Bytes expected = {'M',  'T',  'h',  'd',  0,    0,    0,    6,
                            0,    0,    0,    1,    0x01, 0xE0,           // format 0, one track, 480 ppq
                            'M',  'T',  'r',  'k',  0,    0,    0,    21, // track length
                            0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,     // tempo 500000 us
                            0x83, 0x60, 0x90, 60,   96,                   // +480 note-on, velocity 96
                            0x83, 0x60, 0x80, 60,   64,                   // +480 note-off, velocity 64
                            0x00, 0xFF, 0x2F, 0x00};                      // end of track
    EXPECT_EQ(bytes, expected);
}

TEST(MidiExport, TempoEventCarriesRoundedMicrosecondsPerQuarter) {
    struct Case {
        double bpm;
        std::uint32_t micros;
    };
    for (const Case c : {Case{120.0, 500000}, Case{90.0, 666667}, Case{300.0, 200000}, Case{20.0, 3000000},
                         Case{133.0, 451128}}) {
        SCOPED_TRACE(c.bpm);
        const auto midi = parse(np::exportMidi(makeDoc({makeNote(60.0, 0, 4800)}), c.bpm, 0.0));
        ASSERT_EQ(midi.tempos.size(), 1u);
        EXPECT_EQ(midi.tempos[0], c.micros);
        EXPECT_EQ(midi.format, 0);
        EXPECT_EQ(midi.trackCount, 1);
        EXPECT_EQ(midi.division, 480);
    }
}

TEST(MidiExport, NoteOffPrecedesNoteOnAtTheSameTick) {
    // The first note ends exactly where the second (same key) starts.
    const auto bytes =
        np::exportMidi(makeDoc({makeNote(62.0, 0, 24000), makeNote(62.0, 24000, 24000)}), 120.0, 0.0);
    const auto midi = parse(bytes);
    ASSERT_EQ(midi.notes.size(), 4u);
    EXPECT_EQ(midi.notes[1].status, kOff);
    EXPECT_EQ(midi.notes[1].tick, 480u);
    EXPECT_EQ(midi.notes[2].status, kOn);
    EXPECT_EQ(midi.notes[2].tick, 480u);
    // The pair sits back to back with a zero delta between them.
    const Bytes pair = {0x83, 0x60, 0x80, 62, 64, 0x00, 0x90, 62, 96};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), pair.begin(), pair.end()), bytes.end());
}

TEST(MidiExport, SimultaneousNotesKeepDocumentOrder) {
    const auto midi = parse(np::exportMidi(
        makeDoc({makeNote(67.0, 4800, 4800), makeNote(60.0, 4800, 4800), makeNote(64.0, 4800, 9600)}), 120.0,
        0.0));
    ASSERT_EQ(midi.notes.size(), 6u);
    const std::uint8_t expectedOrder[] = {67, 60, 64, 67, 60, 64};
    const std::uint8_t expectedStatus[] = {kOn, kOn, kOn, kOff, kOff, kOff};
    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(midi.notes[i].note, expectedOrder[i]);
        EXPECT_EQ(midi.notes[i].status, expectedStatus[i]);
    }
}

TEST(MidiExport, TinyNotesLastAtLeastOneTick) {
    struct Case {
        std::int64_t start, length;
        std::uint64_t on, off;
    };
    // At 0.02 ticks per sample: 20 samples are 0.4 tick, 25 samples are exactly half a tick.
    for (const Case c : {Case{0, 1, 0, 1}, Case{0, 20, 0, 1}, Case{0, 25, 0, 1}, Case{25, 25, 1, 2},
                         Case{24975, 50, 500, 501}, Case{0, 75, 0, 2}}) {
        SCOPED_TRACE(testing::Message() << c.start << "+" << c.length);
        const auto midi = parse(np::exportMidi(makeDoc({makeNote(60.0, c.start, c.length)}), 120.0, 0.0));
        ASSERT_EQ(midi.notes.size(), 2u);
        EXPECT_EQ(midi.notes[0].tick, c.on);
        EXPECT_EQ(midi.notes[1].tick, c.off);
    }
}

TEST(MidiExport, UnplayableNotesAreLeftOutWithoutDisturbingTheRest) {
    const np::Note kept1 = makeNote(60.0, 0, 4800);
    const np::Note kept2 = makeNote(-0.4, 9600, 4800); // sounds at 0 after rounding
    np::Note muted = makeNote(64.0, 4800, 4800);
    muted.muted = true;
    const np::Note empty = makeNote(65.0, 4800, 0);
    const np::Note negativeLength = makeNote(65.0, 4800, -10);
    const np::Note tooHigh = makeNote(127.6, 4800, 4800);
    const np::Note tooLow = makeNote(-0.6, 4800, 4800);
    const np::Note beforeZero = makeNote(62.0, -1, 4800);
    np::Note nanPitch = makeNote(std::nan(""), 4800, 4800);
    np::Note infGain = makeNote(62.0, 4800, 4800);
    infGain.gainDb = INFINITY;
    np::Note offsetPastTop = makeNote(110.0, 4800, 4800);
    offsetPastTop.pitchOffset = 24.0;
    const np::Note overflowingEnd = makeNote(62.0, INT64_MAX - 10, 100);

    const auto reference = np::exportMidi(makeDoc({kept1, kept2}), 120.0, 0.0);
    ASSERT_FALSE(reference.empty());
    const auto withJunk =
        np::exportMidi(makeDoc({muted, kept1, empty, negativeLength, tooHigh, tooLow, beforeZero, nanPitch,
                                infGain, offsetPastTop, overflowingEnd, kept2}),
                       120.0, 0.0);
    EXPECT_EQ(withJunk, reference);
    const auto midi = parse(reference);
    ASSERT_EQ(midi.notes.size(), 4u);
    EXPECT_EQ(midi.notes[2].note, 0);
}

TEST(MidiExport, TicksNeverWrapPastTheLargestDelta) {
    // 0.02 ticks per sample: a note ending at 13421772750 samples ends exactly on tick 0x0FFFFFFF.
    const std::int64_t lastSample = 13421772750;
    const auto edge = parse(np::exportMidi(makeDoc({makeNote(60.0, lastSample - 48000, 48000)}), 120.0, 0.0));
    ASSERT_EQ(edge.notes.size(), 2u);
    EXPECT_EQ(edge.notes[1].tick, 0x0FFFFFFFu);

    // One tick further, or so far out that a 32-bit tick would wrap to a small number, the note is
    // dropped; the earlier note in the same document stays exactly where it was.
    const np::Note early = makeNote(60.0, 0, 4800);
    const auto reference = np::exportMidi(makeDoc({early}), 120.0, 0.0);
    for (const std::int64_t start :
         {lastSample - 48000 + 50, lastSample, std::int64_t{214748364800} + 48000, std::int64_t{1} << 60}) {
        SCOPED_TRACE(start);
        EXPECT_EQ(np::exportMidi(makeDoc({early, makeNote(61.0, start, 48000)}), 120.0, 0.0), reference);
    }
    // A note that only starts on the last tick would need its note-off one tick past it.
    EXPECT_TRUE(np::exportMidi(makeDoc({makeNote(60.0, lastSample, 1)}), 120.0, 0.0).empty());
}

TEST(MidiExport, VelocityFollowsGain) {
    struct Case {
        double gainDb;
        std::uint8_t velocity;
    };
    for (const Case c : {Case{0.0, 96}, Case{-10.0, 76}, Case{0.25, 97}, Case{-47.5, 1}, Case{-48.0, 1},
                         Case{-60.0, 1}, Case{-47.0, 2}, Case{15.5, 127}, Case{24.0, 127}, Case{15.2, 126}}) {
        SCOPED_TRACE(c.gainDb);
        np::Note n = makeNote(60.0, 0, 4800);
        n.gainDb = c.gainDb;
        const auto midi = parse(np::exportMidi(makeDoc({n}), 120.0, 0.0));
        ASSERT_EQ(midi.notes.size(), 2u);
        EXPECT_EQ(midi.notes[0].velocity, c.velocity);
        EXPECT_EQ(midi.notes[1].velocity, 64);
    }
}

TEST(MidiExport, TuningOffsetAndPitchOffsetChooseTheNoteNumber) {
    struct Case {
        double pitch, pitchOffset, tuning;
        int note;
    };
    const double a432 = 12.0 * std::log2(432.0 / 440.0); // about -0.318 semitones
    for (const Case c : {Case{60.0, 0.0, 0.5, 60}, Case{60.0, 0.0, 0.6, 59}, Case{60.0, 0.0, -0.5, 61},
                         Case{68.7, 0.0, a432, 69}, Case{68.1, 0.0, a432, 68}, Case{60.0, 12.0, 0.0, 72},
                         Case{60.0, -24.0, 0.0, 36}, Case{127.4, 0.0, 0.0, 127}}) {
        SCOPED_TRACE(testing::Message() << c.pitch << " " << c.pitchOffset << " " << c.tuning);
        np::Note n = makeNote(c.pitch, 0, 4800);
        n.pitchOffset = c.pitchOffset;
        const auto midi = parse(np::exportMidi(makeDoc({n}), 120.0, c.tuning));
        ASSERT_EQ(midi.notes.size(), 2u);
        EXPECT_EQ(midi.notes[0].note, c.note);
        EXPECT_EQ(midi.notes[1].note, c.note);
    }
}

TEST(MidiExport, RefusesWhatCannotBeExported) {
    const auto one = makeDoc({makeNote(60.0, 0, 4800)});
    np::Note muted = makeNote(60.0, 0, 4800);
    muted.muted = true;
    struct Case {
        const char* what;
        np::Document doc;
        double bpm, tuning;
    };
    std::vector<Case> cases = {
        {"no notes", makeDoc({}), 120.0, 0.0},
        {"all muted", makeDoc({muted, muted}), 120.0, 0.0},
        {"rate too low", makeDoc({makeNote(60.0, 0, 4800)}, 7999.0), 120.0, 0.0},
        {"rate too high", makeDoc({makeNote(60.0, 0, 4800)}, 384001.0), 120.0, 0.0},
        {"rate not finite", makeDoc({makeNote(60.0, 0, 4800)}, std::nan("")), 120.0, 0.0},
        {"tempo too low", one, 19.9, 0.0},
        {"tempo too high", one, 300.1, 0.0},
        {"tempo not finite", one, std::nan(""), 0.0},
        {"tuning not finite", one, 120.0, INFINITY},
        {"too many notes", makeDoc(std::vector<np::Note>(100001, makeNote(60.0, 0, 4800))), 120.0, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(np::exportMidi(c.doc, c.bpm, c.tuning).empty());
    }
    EXPECT_FALSE(
        np::exportMidi(makeDoc(std::vector<np::Note>(100000, makeNote(60.0, 0, 4800))), 120.0, 0.0).empty());
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
    const auto full = np::exportMidi(doc, 120.0, 0.0, [&] {
        ++polls;
        return true;
    });
    ASSERT_FALSE(full.empty());
    EXPECT_EQ(parse(full).notes.size(), 1400u);
    // Notes 0, 256 and 512; after collecting; after sorting; events 0, 512 and 1024; at the end.
    EXPECT_GE(polls, 9);
    for (int stopAt = 0; stopAt < polls; ++stopAt) {
        SCOPED_TRACE(stopAt);
        int seen = 0;
        EXPECT_TRUE(np::exportMidi(doc, 120.0, 0.0, [&] { return seen++ < stopAt; }).empty());
    }
}

TEST(MidiExport, EveryKeptNoteReadsBackAsOnePairInTimeOrder) {
    // Notes out of timeline order, overlapping, at 44100 Hz and an odd tempo.
    std::vector<np::Note> notes;
    std::uint32_t state = 12345;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (int i = 0; i < 300; ++i) {
        np::Note n = makeNote(30.0 + next() % 70, static_cast<std::int64_t>(next() % 4410000),
                              1 + static_cast<std::int64_t>(next() % 88200));
        n.gainDb = -30.0 + static_cast<double>(next() % 50);
        notes.push_back(n);
    }
    const double bpm = 97.3, rate = 44100.0;
    const auto midi = parse(np::exportMidi(makeDoc(notes, rate), bpm, 0.0));
    ASSERT_EQ(midi.notes.size(), 600u);
    const double ticksPerSecond = 480.0 * bpm / 60.0;
    std::vector<int> open(128, 0);
    std::uint64_t previous = 0;
    std::size_t ons = 0;
    for (const auto& e : midi.notes) {
        EXPECT_GE(e.tick, previous);
        previous = e.tick;
        open[e.note] += e.status == kOn ? 1 : -1;
        if (e.status == kOn) {
            ++ons;
        }
    }
    EXPECT_EQ(ons, 300u);
    for (int k = 0; k < 128; ++k) {
        EXPECT_EQ(open[k], 0) << "key " << k << " left hanging";
    }
    // The last note-off lands where the latest-ending note ends, within half a tick.
    double latestEnd = 0.0;
    for (const auto& n : notes) {
        latestEnd = std::max(latestEnd, static_cast<double>(n.start + n.length) / rate * ticksPerSecond);
    }
    EXPECT_NEAR(static_cast<double>(midi.notes.back().tick), latestEnd, 0.5 + 1e-9);
}

TEST(MidiExport, VariableLengthQuantitiesUseTheShortestForm) {
    struct Case {
        std::uint32_t value;
        Bytes bytes;
    };
    for (const Case& c : {Case{0, {0x00}}, Case{0x7F, {0x7F}}, Case{0x80, {0x81, 0x00}},
                          Case{480, {0x83, 0x60}}, Case{0x3FFF, {0xFF, 0x7F}},
                          Case{0x4000, {0x81, 0x80, 0x00}}, Case{0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}}}) {
        SCOPED_TRACE(c.value);
        Bytes out;
        np::detail::putVlq(out, c.value);
        EXPECT_EQ(out, c.bytes);
    }
}

} // namespace
