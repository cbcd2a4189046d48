#pragma once

#include "engine/analysis/analysis_records.h"

#include <cstddef>
#include <cstdint>

namespace np {

// The memory an analysis will take, planned before any of it is allocated. A refused plan has ok
// false; fields computed before the refusal keep their values, the others are 0.
struct AnalysisMemoryPlan {
    bool ok = false;
    std::uint64_t audioBytes = 0;        // channels x frames x 4 (the audio itself)
    std::uint64_t monoBytes = 0;         // frames x 4 for the stereo mixdown; 0 for mono
    std::uint64_t pitchFrameBytes = 0;   // pitch-track frames x 320 (Melodic only)
    std::uint64_t pitchTrackerBytes = 0; // decoder, model and frame buffers of the tracker (Melodic only)
    std::uint64_t onsetBytes = 0;        // novelty curve, FFT buffers and onset list
    std::uint64_t noteBytes = 0;         // segmentation working set and the notes
    std::uint64_t totalBytes = 0;
};

// Limits every analysis is held to.
inline constexpr std::int64_t kAnalysisMaxChannels = 2;
inline constexpr double kAnalysisMinSampleRate = 8000.0;
inline constexpr double kAnalysisMaxSampleRate = 384000.0;
inline constexpr double kAnalysisMaxSeconds = 1200.0;
inline constexpr std::uint64_t kAnalysisWorkingSetBytes = 536870912; // 512 MiB
// Largest sample-count setting after scaling.
inline constexpr int kAnalysisMaxScaledCount = 4194304;
// Scaled hops never go below this, so very low rates keep a sensible frame count.
inline constexpr int kAnalysisMinScaledHop = 64;

// Plans a Melodic analysis of channels x frames samples at sampleRate with config (48 kHz values,
// rescaled inside). Pure and thread-safe.
AnalysisMemoryPlan planMelodicAnalysisMemory(int channels, std::int64_t frames, double sampleRate,
                                             const AnalysisConfig& config);

// Plans a Percussive analysis the same way. Pure and thread-safe.
AnalysisMemoryPlan planPercussiveAnalysisMemory(int channels, std::int64_t frames, double sampleRate,
                                                const AnalysisConfig& config);

// Rescales the sample-count settings of in (written for 48 kHz) to rate for the Melodic analysis:
// the pitch tracker's frame and hop, the onset frame, and the onset hop set to the pitch hop so that
// onsets fall on pitch frames. False when a setting or the rate is out of bounds; out is then
// unspecified.
bool scaledAnalysisConfig(double rate, const AnalysisConfig& in, AnalysisConfig& out);

// The same for the Percussive analysis: only the onset frame and hop are rescaled.
bool scaledPercussiveConfig(double rate, const AnalysisConfig& in, AnalysisConfig& out);

// out = max(round-half-up(value * scale), minimum), raised to a power of two when asked. False when
// value <= 0, scale is not a positive finite number, or the scaled value lies outside
// 0.5..kAnalysisMaxScaledCount (or its power of two would).
bool checkedScaledInteger(int value, long double scale, int minimum, bool powerOfTwo, int& out);

// Throws std::length_error telling the user what to shorten: a generic sentence when bytes is 0 (the
// audio's shape or the settings are out of bounds), else the MiB the analysis would need.
[[noreturn]] void throwAnalysisWorkingSetError(std::size_t bytes);

} // namespace np
