#pragma once

#include "engine/analysis/analysis_records.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace np {

// How much of a take sounds like several voices at once, 0..1: windows of pyin.frame samples every
// four hops are run through YIN with a loose threshold; a window counts as polyphonic when at least
// two of its candidates are not near-harmonic submultiples of its highest candidate. The score is the
// RMS-weighted share of such windows; windows quieter than 0.001 RMS are left out.
//
// pyin must be scaled to sampleRate. keepGoing is asked before every 32nd window and once at the end;
// the result is empty when it returned false. keepGoing is asked on the calling thread only, while the
// windows are shared with helper threads (one YIN analyser each, within the tracker's fixed allowance).
std::optional<float> polyphonyScore(const float* mono, std::int64_t samples, double sampleRate,
                                    const PYinConfig& pyin, const std::function<bool()>& keepGoing);

} // namespace np
