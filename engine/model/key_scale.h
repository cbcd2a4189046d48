#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace np {

// The session's key and scale: which pitch classes the snapping edits, pitch correction and the editor
// grid treat as in key.
struct KeyScale {
    std::int32_t root = 0;  // pitch class, 0 = C .. 11 = B; wrapped into 0..11 wherever it is used
    std::uint32_t kind = 0; // 0 Chromatic, 1 Major, 2 Minor

    // 12-entry mask indexed by pitch class (0 = C). Chromatic sets all; an unknown kind sets none.
    std::array<bool, 12> degrees() const noexcept;
};

// Pitch class of a MIDI note (or of a root), wrapped into 0..11 for negative values too.
int pitchClass(int note) noexcept;

// Tuning offset of an A4 reference in semitones: 12 * log2(a4Hz / 440).
double tuningOffsetSemitones(double a4Hz) noexcept;

// The scale degree nearest to a wanted pitch (fractional MIDI), in the tuning of a4Hz. Ties go to the
// higher degree; with no degree in reach (no pitch class set) the wanted pitch is rounded instead.
double nearestScaleDegree(double pitch, const KeyScale& keyScale, double a4Hz) noexcept;

// "C4" for 60, "A4" for 69, "C-1" for 0. Negative notes wrap their pitch class and take the octave of
// floor division (-1 is "B-2").
std::string midiNoteName(int note);

} // namespace np
