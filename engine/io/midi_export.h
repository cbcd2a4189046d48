#pragma once

#include "engine/model/document.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace np {

// Standard MIDI File layout written by exportMidi: format 0, one track, kMidiTicksPerQuarter ticks per
// quarter note, one tempo event, then one note-on and one note-off per exported note on channel 1.
inline constexpr std::uint16_t kMidiTicksPerQuarter = 480;

// Largest delta time a variable-length quantity may hold (four bytes of seven bits). Absolute tick
// positions are kept at or below it, so no delta can exceed it either.
inline constexpr std::int64_t kMidiMaxTick = 0x0FFFFFFF;

// More notes than this are refused, as everywhere else in the engine.
inline constexpr std::size_t kMidiMaxNotes = 100000;

// Velocity of every note-off.
inline constexpr std::uint8_t kMidiNoteOffVelocity = 64;

// Builds the bytes of a Standard MIDI File from the document's notes.
//   tempoBpm: the session tempo, 20..300; the file's only tempo event.
//   tuningOffset: semitones subtracted from each note's sounding pitch (pitch + pitchOffset) before it
//     is rounded to a note number; 12 * log2(a4Hz / 440) lands notes tuned to another A4 on the nearest
//     note of 440 Hz tuning.
//   keepGoing: optional; polled once the arguments are checked, before notes 0, 256, 512..., after
//     collecting, after sorting, before events 0, 512, 1024... and at the end; false stops.
// A note is left out when it is muted, empty, not finite, outside the note range 0..127 after
// rounding, or would end past kMidiMaxTick. Returns an empty vector when nothing is exported, an
// argument is out of range or keepGoing said stop. Builds bytes only; any thread; no file access.
std::vector<std::uint8_t> exportMidi(const Document& document, double tempoBpm, double tuningOffset,
                                     const std::function<bool()>& keepGoing = {});

namespace detail {

// One event in absolute ticks, before delta encoding.
struct MidiNoteEvent {
    std::uint32_t tick = 0;
    std::uint8_t on = 0; // 1 note-on, 0 note-off
    std::uint8_t note = 0;
    std::uint8_t velocity = 0;
};

// Note-on velocity for a gain: lround(min(127, 96 + 2 * gainDb)), at least 1.
std::uint8_t midiVelocityForGain(double gainDb) noexcept;

// Appends value (at most kMidiMaxTick) as a variable-length quantity, most significant group first.
void putVlq(std::vector<std::uint8_t>& out, std::uint32_t value);

} // namespace detail

} // namespace np
