#pragma once

#include "engine/analysis/analysis_records.h"
#include "engine/audio/audio_buffer.h"

#include <cstdint>
#include <vector>

namespace np {

// What the formant warp compares a rendered span against. Curves are indexed by hop of the track,
// counted from sourceStart.
struct FormantWarpParams {
    std::int64_t sourceStart = 0;                      // the source frame of output frame 0
    double timeRatio = 1.0;                            // source frames per output frame
    const std::vector<double>* formantCents = nullptr; // formant shift per hop; null or empty: none
    const std::vector<double>* pitchCents = nullptr;   // pitch shift per hop; null or empty: 0
    const PitchTrack* track = nullptr;                 // null: every frame counts as unvoiced
};

// Replaces the spectral envelope of `out`, frame by frame (2048-sample Hann frames, hop 512), by the
// envelope of the corresponding source frame, stretched in frequency by the formant shift: this
// restores the source's vowel colour after an engine that moved the formants with the pitch. Each
// bin's correction is limited to a factor 3 either way (8 up, 16 down with a formant shift) and never
// boosts bins near the output's noise floor. Samples covered by too little window weight (the first and
// last few hundred) blend smoothly into the unprocessed audio. Output shorter than 2048 frames is left
// untouched. Source channel c (or 0 when the source has fewer) serves output channel c. Allocates its
// frame buffers once per call.
void applyFormantWarp(AudioBuffer& out, const AudioBuffer& source, const FormantWarpParams& params);

// applyFormantWarp without curves or a track: the source envelope transplanted with lifter 30.
void transplantEnvelope(AudioBuffer& out, const AudioBuffer& source, long long sourceStart, double timeRatio);

namespace detail {

// The fundamental (Hz) the warp reads for its frame whose window starts at source frame q, which sets
// the cepstral lifter and the envelope smoothing: that of the track frame centred on the window's
// centre when it is voiced, else 0 (also without a track or with a hop below 1). Pure.
double warpFrameF0(const PitchTrack* track, std::int64_t q) noexcept;

} // namespace detail

} // namespace np
