#pragma once

#include "engine/render/vocoder/vocoder_frames.h"

#include <cstdint>
#include <span>
#include <vector>

namespace np::vocoder {

// What the synthesis reads, one entry per 5 ms frame (frame j centred on sample j x fs x 5 / 1000).
// The spectra are borrowed by pointer, so frames that share an envelope (a held analysis frame, a
// time stretch) cost no copies; each pointer must address fftSize / 2 + 1 values.
struct SynthesisFrames {
    std::span<const double> f0Hz;                  // 0, negative or not finite: unvoiced
    std::span<const double* const> envelopes;      // linear power, scaled as estimateSpectralEnvelope
    std::span<const double* const> aperiodicities; // 0..1, as estimateAperiodicity
    int fftSize = 0;                               // a power of two, 16..131072 (see fftSizeForRate)
};

inline constexpr std::uint64_t kDefaultNoiseSeed = 0x5eed'c0de'0f0c'a1edULL;

// Source-filter synthesis of exactly outputLength samples at sampleRate from per-frame F0, spectral
// envelope and aperiodicity.
//
// Voiced frames: pulses are placed where the accumulated phase of the F0 (interpolated linearly
// between neighbouring voiced frames) passes a whole cycle, at fractional positions (a linear phase).
// Each pulse is sqrt(T0) (T0 the local period in samples) times the minimum-phase response of
// sqrt(P), from the folded cepstrum of the envelope P of the frame nearest the pulse, weighted by
// sqrt(1 - A) with A the aperiodicity. All pulses are laid early by the energy delay of the voiced
// frames' typical response (about a millisecond for a vowel), so that the output's periodicity
// follows the F0 contour without lag. Each pulse is laid without its sum, which is taken out under a
// Hann bump two periods long at the pulse's centroid: zero at every harmonic, so that only what lies
// below the F0 goes. Noise: unit white noise, filtered in pieces of at most fftSize / 4 samples by the
// same response weighted by sqrt(A), or unweighted on unvoiced frames (F0 0 gives noise only), and
// rolled off below kF0FloorHz. So the output carries no offset that the F0's and the envelope's
// changes or the starts and stops of voicing would make. With these scales a resynthesis keeps the
// analysed level at any F0: the envelope is a power density, a harmonic series of period T0 carries
// 2 P / T0 per harmonic, and the noise carries P A.
//
// The noise comes from a generator seeded with noiseSeed, so the output is bit-identical on repeat.
// Out-of-range inputs are tamed, never propagated: F0 above fs / 2 is held there, envelope values are
// held within kPowerFloor..1e30 (not finite: the floor), aperiodicity within 0..1 (not finite: 1), so
// the output is always finite. Frames past the last one repeat it.
//
// Throws std::invalid_argument for a sample rate outside kMinSampleRate..kMaxSampleRate, an
// outputLength outside 0..kMaxSamples, no frames, spans of different lengths, a null spectrum or a
// bad fftSize; std::bad_alloc. Pure; runs on the calling thread; takes the output and a few
// fftSize-long buffers.
std::vector<double> synthesize(const SynthesisFrames& frames, int sampleRate, std::int64_t outputLength,
                               std::uint64_t noiseSeed = kDefaultNoiseSeed);

} // namespace np::vocoder
