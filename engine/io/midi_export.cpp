#include "engine/io/midi_export.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace np {

namespace detail {

std::uint8_t midiVelocityForGain(double gainDb) noexcept {
    const double v = 96.0 + 2.0 * gainDb;
    if (!(v >= 1.0)) {
        return 1;
    }
    return static_cast<std::uint8_t>(std::lround(std::min(127.0, v)));
}

void putVlq(std::vector<std::uint8_t>& out, std::uint32_t value) {
    // Seven bits per byte; every byte but the last carries the continuation bit.
    std::uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7Fu);
        value >>= 7;
    } while (value != 0 && count < 5);
    for (int i = count - 1; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(groups[i] | (i > 0 ? 0x80u : 0x00u)));
    }
}

} // namespace detail

namespace {

void putU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void putU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void putTag(std::vector<std::uint8_t>& out, const char (&tag)[5]) {
    out.insert(out.end(), tag, tag + 4);
}

bool stopRequested(const std::function<bool()>& keepGoing) {
    return keepGoing && !keepGoing();
}

// The note number a note sounds at, or -1 when it is left out of the file.
int exportedNoteNumber(const Note& note, double tuningOffset) {
    const double m = note.pitch + note.pitchOffset - tuningOffset;
    if (!std::isfinite(m) || m > 128.0 || m < -1.0) {
        return -1;
    }
    const long n = std::lround(m);
    return (n >= 0 && n <= 127) ? static_cast<int>(n) : -1;
}

struct TickSpan {
    std::int64_t on = 0;
    std::int64_t off = 0;
};

// Tick positions of a note, or false when it cannot be placed. Positions are rounded in 64 bits from
// extended-precision products; a note ending past kMidiMaxTick is refused instead of wrapping, so
// every absolute tick and therefore every delta fits a four-byte variable-length quantity.
bool noteTicks(const Note& note, long double ticksPerSample, TickSpan& span) {
    if (note.start < 0 || note.length <= 0 ||
        note.start > std::numeric_limits<std::int64_t>::max() - note.length) {
        return false;
    }
    const long double onProduct = static_cast<long double>(note.start) * ticksPerSample;
    const long double offProduct = static_cast<long double>(note.start + note.length) * ticksPerSample;
    // Rounded to nearest, a product below max + 0.5 stays within range; checking first keeps
    // llroundl away from values it cannot represent.
    const long double limit = static_cast<long double>(kMidiMaxTick) + 0.5L;
    if (!std::isfinite(onProduct) || onProduct < 0.0L || !std::isfinite(offProduct) ||
        !(offProduct < limit)) {
        return false;
    }
    span.on = std::llroundl(onProduct);
    span.off = std::max<std::int64_t>(span.on + 1, std::llroundl(offProduct));
    return span.off <= kMidiMaxTick;
}

} // namespace

std::vector<std::uint8_t> exportMidi(const Document& document, double tempoBpm, double tuningOffset,
                                     const std::function<bool()>& keepGoing) {
    const auto& notes = document.notes;
    if (notes.empty() || notes.size() > kMidiMaxNotes) {
        return {};
    }
    if (!std::isfinite(document.sampleRate) || document.sampleRate < 8000.0 ||
        document.sampleRate > 384000.0) {
        return {};
    }
    if (!std::isfinite(tempoBpm) || tempoBpm < 20.0 || tempoBpm > 300.0 || !std::isfinite(tuningOffset) ||
        stopRequested(keepGoing)) {
        return {};
    }

    const double ticksPerSampleD = kMidiTicksPerQuarter * tempoBpm / 60.0 / document.sampleRate;
    const long double ticksPerSample = ticksPerSampleD;

    std::vector<detail::MidiNoteEvent> events;
    events.reserve(notes.size() * 2);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (i % 256 == 0 && stopRequested(keepGoing)) {
            return {};
        }
        const Note& note = notes[i];
        if (note.muted || !std::isfinite(note.pitch) || !std::isfinite(note.pitchOffset) ||
            !std::isfinite(note.gainDb)) {
            continue;
        }
        const int number = exportedNoteNumber(note, tuningOffset);
        TickSpan span;
        if (number < 0 || !noteTicks(note, ticksPerSample, span)) {
            continue;
        }
        const auto n = static_cast<std::uint8_t>(number);
        events.push_back(
            {static_cast<std::uint32_t>(span.on), 1, n, detail::midiVelocityForGain(note.gainDb)});
        events.push_back({static_cast<std::uint32_t>(span.off), 0, n, kMidiNoteOffVelocity});
    }
    if (events.empty() || stopRequested(keepGoing)) {
        return {};
    }

    // A note that ends where the next one starts releases first, so a receiver never sees the same
    // key pressed twice.
    std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) {
        if (a.tick != b.tick) {
            return a.tick < b.tick;
        }
        return a.on < b.on;
    });
    if (stopRequested(keepGoing)) {
        return {};
    }

    // Tempo event (7 bytes), at most 4 + 3 bytes per event, end of track (4 bytes).
    std::vector<std::uint8_t> track;
    track.reserve(7 + events.size() * 7 + 4);
    const auto microsPerQuarter = static_cast<std::uint32_t>(std::llround(60000000.0 / tempoBpm));
    track.insert(track.end(), {0x00, 0xFF, 0x51, 0x03});
    track.push_back(static_cast<std::uint8_t>(microsPerQuarter >> 16));
    track.push_back(static_cast<std::uint8_t>(microsPerQuarter >> 8));
    track.push_back(static_cast<std::uint8_t>(microsPerQuarter));
    std::uint32_t previousTick = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (i % 512 == 0 && stopRequested(keepGoing)) {
            return {};
        }
        const auto& e = events[i];
        detail::putVlq(track, e.tick - previousTick);
        previousTick = e.tick;
        track.push_back(e.on ? 0x90 : 0x80);
        track.push_back(e.note);
        track.push_back(e.velocity);
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    if (track.size() > std::numeric_limits<std::uint32_t>::max()) {
        return {};
    }

    std::vector<std::uint8_t> file;
    file.reserve(track.size() + 22);
    putTag(file, "MThd");
    putU32(file, 6);
    putU16(file, 0);
    putU16(file, 1);
    putU16(file, kMidiTicksPerQuarter);
    putTag(file, "MTrk");
    putU32(file, static_cast<std::uint32_t>(track.size()));
    file.insert(file.end(), track.begin(), track.end());
    if (stopRequested(keepGoing)) {
        return {};
    }
    return file;
}

} // namespace np
