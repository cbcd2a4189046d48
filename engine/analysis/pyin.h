#pragma once

#include "engine/analysis/analysis_records.h"

#include <cstdint>
#include <functional>

namespace np {

// Probabilistic YIN pitch tracking (Mauch and Dixon, "pYIN: A fundamental frequency estimator using
// probabilistic threshold distributions", ICASSP 2014): every YIN minimum of a frame becomes a pitch
// candidate weighted by a Beta(2, 18) prior over the YIN threshold; a hidden Markov model over pitch
// bins and voicing is decoded by a log-domain Viterbi pass with square-root checkpointing, so the
// decoder's memory grows with the square root of the length.

// Sizes of one tracking job, planned before any memory is taken. A refused plan has ok false and every
// other field 0, except a pitch range that gives an unusable bin count, which keeps frames set.
struct PYinDecoderMemoryPlan {
    bool ok = false;
    std::uint64_t frames = 0;             // analysis frames
    std::uint64_t states = 0;             // 2 x pitch bins (voiced and unvoiced state per bin)
    std::uint64_t checkpointInterval = 0; // frames between two stored score vectors
    std::uint64_t checkpointCount = 0;    // stored score vectors
    std::uint64_t fullTableBytes = 0;     // frames x states x 4: what a plain Viterbi table would take
    std::uint64_t decoderBytes = 0;       // checkpoints, one segment of back-pointers and the path
    std::uint64_t transitionWork = 0;     // 2 x frames x bins x transition width
    std::uint64_t observationBytes = 0;   // 16 x bins x frames
};

// The decoder may use at most this much memory (128 MiB).
inline constexpr std::uint64_t kPYinDecoderBudgetBytes = 134217728;

// Plans a tracking job of samples mono samples at sampleRate. Refuses bad settings (see PYinConfig),
// fewer samples than one frame, more than 4000000 frames, and a decoder above kPYinDecoderBudgetBytes.
// Pure and thread-safe.
PYinDecoderMemoryPlan planPYinDecoderMemory(std::int64_t samples, double sampleRate,
                                            const PYinConfig& config);

// The part of a tracking job's memory that does not grow with its length: states x 48 + frame x 192
// bytes for the decoder's steps and the YIN analysers. The scratch of every thread the tracker runs
// fits inside it.
std::uint64_t pitchTrackerAllowanceBytes(const PYinDecoderMemoryPlan& plan,
                                         const PYinConfig& config) noexcept;

// Tracks the pitch of samples mono samples at sampleRate; one frame per hop, frame i covering
// samples i*hop .. i*hop + frame - 1.
//
// The returned track always carries sampleRate, config.hop and config.frame; it holds frames only when
// tracking completed: a null input or a refused plan (see planPYinDecoderMemory) gives no frames, and
// so does progress returning false (callers that must tell cancellation apart check their own flag).
// progress receives a fraction 0..1 at most every 64 frames and may be empty; it is called on the
// calling thread only, while the frame-independent stages share their work with up to
// analysisThreadCount() - 1 more threads. Runs on a worker thread; throws std::bad_alloc when memory
// runs out.
PitchTrack trackPitchPYin(const float* mono, std::int64_t samples, double sampleRate,
                          const PYinConfig& config, const std::function<bool(float)>& progress);

} // namespace np
