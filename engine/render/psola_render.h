#pragma once

// The pitch-synchronous engine: time-domain pitch-synchronous overlap-add (Moulines and Charpentier,
// "Pitch-synchronous waveform processing techniques for text-to-speech synthesis using diphones",
// Speech Communication 9, 1990). Two-period Hann grains cut around the source's epochs are laid again
// at spacings divided by the pitch ratio, which shifts the pitch and keeps the length and the spectral
// envelope. Each grain is centred at its exact place, between samples where the new spacing puts it
// (the source read there by cubic interpolation), so that the new periods do not jitter by the
// rounding. The re-synthesis is blended into an unchanged copy of the span wherever grains were laid
// and between consecutive grains, however far apart a large downward shift spreads them; each grain
// is laid without its mean under the weight it has there, so the blend carries no offset.

#include "engine/analysis/analysis_records.h"
#include "engine/audio/audio_buffer.h"

#include <vector>

namespace np {

// Source frames [spanStart, spanStart + spanLength) with the source's channels, zeros where the span
// leaves the source: the pitch-synchronous engine's starting point and the copy engine's whole work.
AudioBuffer copySourceSpan(const AudioBuffer& source, long long spanStart, long long spanLength);

// Renders source frames [spanStart, spanStart + spanLength) with the pitch shifted by centsPerHop (per
// hop of the track, counted from spanStart; empty: no shift). epochs is the source's table
// (detectEpochs). Runs of fewer than 3 epochs, sibilant frames and stretches without grains keep the
// source; so does the whole span when the track is empty or no epoch lies inside it. The result has the
// source's channels and spanLength frames (zeros where the span leaves the source). Takes the output,
// one accumulator per channel, a weight and a mask buffer of spanLength floats, and one grain's
// samples and weights; std::bad_alloc passes through. Runs on the render thread.
AudioBuffer renderPsolaSpan(const AudioBuffer& source, double sampleRate, const PitchTrack& track,
                            const std::vector<long long>& epochs, long long spanStart, long long spanLength,
                            const std::vector<double>& centsPerHop);

} // namespace np
