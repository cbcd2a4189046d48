#pragma once

#include "engine/analysis/yin.h"

#include <array>
#include <cstdint>
#include <span>

namespace np {

// The observation stage of probabilistic YIN: what one frame's YIN candidates say about the pitch
// bins, weighted by a Beta(2, 18) prior over the YIN threshold.

// At most this many pitch candidates are kept per frame.
inline constexpr std::size_t kPYinMaxCandidates = 16;

// Probability mass on one pitch bin.
struct PYinBinMass {
    std::uint32_t bin = 0;
    double probability = 0.0;
};

// The observation of one frame, kept for the whole tracking. Candidate storage is inline, so a track
// of observations is one allocation.
struct FrameObs {
    std::array<PYinBinMass, kPYinMaxCandidates> candidates{};
    std::uint32_t candidateCount = 0;
    double voicedMass = 0.0;     // 0..0.99: probability that the frame is voiced
    double bestConfidence = 0.0; // largest 1 - value of the accepted candidates; 0 when none

    std::span<const PYinBinMass> kept() const noexcept { return {candidates.data(), candidateCount}; }
};

// Pitch bins of binCents each from midiMin (the MIDI value of minHz) up to midiMax (that of maxHz).
struct PYinPitchGrid {
    std::uint32_t bins = 0;
    double midiMin = 0.0;
    double midiMax = 0.0;
    double binCents = 10.0;

    // Frequency of a bin's centre.
    double centreHz(std::uint32_t bin) const noexcept;
    // MIDI value of a bin's centre.
    double centreMidi(std::uint32_t bin) const noexcept;
};

// 69 + 12 log2(hz / 440).
double midiFromHz(double hz) noexcept;

// The prior probability that the YIN threshold lies below value: the Beta(2, 18) distribution,
// tabulated at 257 points on first use (thread-safe) and interpolated linearly; values below 0 count
// as 0 and above 1 as 1.
double thresholdPrior(double value) noexcept;

// Turns a frame's YIN candidates (threshold 0.9, in order of increasing lag) into its observation:
// each candidate gets the prior mass of the thresholds under which it would be the first one below
// the threshold; candidates inside the pitch range are binned, the 16 most probable kept, and the kept
// masses rescaled to the total voiced mass (at most 1).
FrameObs observeCandidates(std::span<const YinCandidate> candidates, const PYinPitchGrid& grid) noexcept;

} // namespace np
