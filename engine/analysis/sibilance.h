#pragma once

#include "engine/analysis/analysis_records.h"

#include <cstdint>
#include <functional>

namespace np {

// Thresholds of sibilance marking; the Melodic analysis uses these defaults.
struct SibilanceConfig {
    double splitHz = 3000.0;                   // corner of the low-pass whose residue is the "high" band
    double minHighToLowRatio = 1.5;            // high-band energy must exceed this multiple of the low band
    double minZeroCrossingsPerSecond = 3000.0; // and the zero-crossing rate must exceed this
    double maxVoicedConfidence = 0.45;         // a voiced hop qualifies only below this confidence
    double silenceDb = -55.0;                  // hops quieter than this (RMS, dBFS) never qualify
    double minRunSeconds = 0.015;              // shortest run of qualifying hops that is marked
    double bridgeSeconds = 0.01;               // longest gap between qualifying hops that is filled
};

// Marks the hops of track that hold sibilants (s, sh, f: noisy, bright, not clearly pitched) by
// setting PitchFrame::kSibilant in their flags, and clears the bit everywhere else. A hop qualifies
// when it is loud enough, not confidently voiced, dominated by energy above splitHz and crossing zero
// often; short gaps between qualifying hops are bridged and runs shorter than minRunSeconds ignored.
//
// mono holds samples values at sampleRate, the audio the track describes. Returns false when
// keepGoing returned false (the flags may then be partly updated), true otherwise; nothing changes
// when the inputs are empty or invalid. Runs on the calling thread.
bool classifySibilance(const float* mono, std::int64_t samples, double sampleRate, PitchTrack& track,
                       const SibilanceConfig& config, const std::function<bool()>& keepGoing);

} // namespace np
