#pragma once

// Epochs of a voiced source: one marked sample position per pitch period, the anchors of the
// pitch-synchronous engine's grains (psola_render.h). Detected once per render over the whole source
// and shared by every chain of that render.

#include "engine/analysis/analysis_records.h"

#include <vector>

namespace np {

// The pitch period in samples at source position `position`, from the document's track: frame f, the
// one centred nearest the position (frameCentredAt) clamped to the track; its period rate / frequency
// when it is voiced, else that of the nearest voiced frame in the order f - 1, f + 1, ..., f - 15,
// f + 15; 0 when none of them is voiced (or the track is empty or its hop 0). Pure.
double epochPeriodAt(const PitchTrack& track, double sampleRate, long long position) noexcept;

// Marks the epochs of a mono source of `frames` samples at sampleRate: the signal is low-passed with
// zero phase (two one-pole sections forward, then backward) at min(2.5 x the median voiced F0,
// 1500 Hz); in each voiced run of the track the first epoch is the strongest peak of the run's polarity
// in its first period, and each next one the peak 0.7..1.4 periods on, weighted towards one period.
// Returns ascending positions; empty when no frame is voiced. Takes a filtered copy of the source
// (4 bytes a frame) and the table; std::bad_alloc passes through. Runs on the render thread.
std::vector<long long> detectEpochs(const float* mono, long long frames, double sampleRate,
                                    const PitchTrack& track);

} // namespace np
