#pragma once

#include "engine/render/vocoder/vocoder_frames.h"

#include <span>
#include <vector>

namespace np::vocoder {

// The F0 of every 5 ms frame of x (frameCount(x.size(), sampleRate) values), in Hz within
// kF0FloorHz..kF0CeilHz, 0 on unvoiced frames.
//
// Built on the probabilistic YIN tracker: the signal is scaled to a peak of 1 (so quiet recordings
// are tracked like loud ones; the tracker's silence gate then sits 70 dB below the peak), padded by
// half an analysis window at both ends so that tracker frame k is centred on sample k x hop, tracked
// at a hop of trunc(fs / 200) samples, and read at each frame's time i x 5 ms: between two voiced
// tracker frames the F0 is interpolated in log frequency; otherwise the nearest tracker frame decides.
// Frames left unvoiced are tracked again with half the window, which follows fast glides of low voices
// that the long window smears, down to about 2 fs / window. Memory grows linearly with the length
// (the tracker's decoder only with its square root).
//
// Throws std::invalid_argument for a sample rate outside kMinSampleRate..kMaxSampleRate or a signal
// longer than kMaxSamples, std::length_error when the tracker refuses the length, std::bad_alloc.
// Pure; runs on the calling thread.
std::vector<double> estimateF0(std::span<const double> x, int sampleRate);

} // namespace np::vocoder
