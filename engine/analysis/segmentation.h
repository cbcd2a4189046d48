#pragma once

#include "engine/analysis/analysis_records.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace np {

// Turns a pitch track, its mono audio and the detected onsets into the notes of a Melodic analysis.
// Voiced runs are cut at onsets, at pitch steps of more than config.splitCents and at level dips of
// more than 5 dB; pieces are kept at least minSegmentSeconds apart; long pieces are split between
// stable pitch plateaus more than 80 cents apart. Each note gets its median pitch, per-hop cents and
// level curves (cents clamped to +-kMaxNoteCurveCents) and the mean confidence of its voiced hops.
// A note start within onsetSnapSeconds of an onset moves onto it, but never before the end of the
// previous note, so analysed notes never overlap.
//
// mono holds samples values (the audio the track describes). Returns notes in time order; an empty
// vector when the track has no frames or when keepGoing returned false. Runs on the calling thread.
std::vector<NoteEvent> segmentNotes(const PitchTrack& track, const float* mono, std::int64_t samples,
                                    const std::vector<std::int64_t>& onsets, const SegmenterConfig& config,
                                    const std::function<bool()>& keepGoing);

namespace detail {

// Frame count of a duration: trunc(seconds * rate / hop) when that quotient exceeds 1, else 1.
std::int64_t secondsToFrames(double seconds, double sampleRate, double hop);

} // namespace detail

} // namespace np
