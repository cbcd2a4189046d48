#pragma once

// The numbers behind the plug-in's macro buttons: the time-quantize grid and the unison pitch. Pure;
// any thread.

#include "engine/model/key_scale.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace cv {

// Beats per grid step, indexed by the quantize grid index (clamped to 0..2).
inline constexpr std::array<double, 3> kBeatFraction{1.0, 0.5, 0.25};

// The macro settings the inspector sets.
struct MacroSettings {
    double correctionAmount = 1.0;  // pitch correction strength, 0..1
    double vibratoFlattening = 0.0; // 0..1
    double quantizeStrength = 1.0;  // 0..1
    int quantizeGridIndex = 1;      // into kBeatFraction

    bool operator==(const MacroSettings&) const = default;
};

// trunc(60 / tempo x beat fraction x rate) samples; 0 when that is not a finite number in range.
std::int64_t quantizeGridSamples(double tempoBpm, int gridIndex, double sampleRate) noexcept;

// The sounding pitch (MIDI, in the session's tuning) unison gives notes now sounding at pitches: their
// median (the upper middle one for an even count) snapped to the nearest degree of keyScale within a
// fifth, the higher of two equally near, after taking out the A4 offset, which is added back. The
// median rounded stays when no degree lies within reach. Empty without pitches.
std::optional<double> unisonTargetMidi(std::vector<double> pitches, const np::KeyScale& keyScale,
                                       double a4Hz);

} // namespace cv
