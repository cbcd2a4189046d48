#pragma once

#include "engine/analysis/analysis_records.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace np {

// Finds the sample positions where new notes or hits begin: a log-magnitude spectral-flux novelty
// curve, an adaptive median threshold, a minimum gap between onsets, and a time-domain energy test
// that confirms each candidate (the 20 ms after it must be clearly louder than the 20 ms before it).
//
// config must already be scaled to sampleRate (frame a power of two; see scaledAnalysisConfig).
// Returns ascending positions, each a multiple of config.hop; never frame 0 or the last frame.
// keepGoing is asked regularly; when it returns false the result is empty (an empty callable never
// stops); it is asked on the calling thread only, while the novelty curve is shared with helper
// threads (one FFT each, within the 128 bytes per window sample the analysis plans).
std::vector<std::int64_t> detectOnsets(const float* mono, std::int64_t samples, double sampleRate,
                                       const OnsetConfig& config, const std::function<bool()>& keepGoing);

namespace detail {

// The median of values (upper middle for an even count); reorders values. values must not be empty.
double upperMedian(std::vector<double>& values);

} // namespace detail

} // namespace np
