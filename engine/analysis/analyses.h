#pragma once

#include "engine/analysis/analysis_records.h"
#include "engine/audio/audio_buffer.h"

#include <functional>

namespace np {

// The two analyses that turn a capture into notes. Both plan their memory first (see analysis_plan.h)
// and throw std::length_error with a sentence telling the user what to shorten when the audio or the
// settings are out of bounds; both rescale config's sample counts (written for 48 kHz) to sampleRate.
//
// progress receives a fraction 0..1 and returns false to cancel; it may be empty. A cancelled analysis
// returns a result with cancelled set, sampleRate = sampleRate and every other field at its default.
// Empty audio (no frames or no channels) gives an empty result. Both run on the calling thread (the
// analysis worker), which alone reports progress, and share their frame-independent stages with up to
// analysisThreadCount() - 1 helper threads (analysis_threads.h); the results do not depend on the
// thread count. Both throw std::bad_alloc when memory runs out.

// "Melodic": pitch tracking, sibilance marking, the several-voices score, onsets, note segmentation
// and octave correction.
AnalysisResult analyzeMelodic(const AudioBuffer& audio, double sampleRate, const AnalysisConfig& config,
                              const std::function<bool(float)>& progress);

// "Percussive": the audio cut at its onsets into unpitched events, silent stretches left out.
AnalysisResult analyzePercussive(const AudioBuffer& audio, double sampleRate, const AnalysisConfig& config,
                                 const std::function<bool(float)>& progress);

} // namespace np
