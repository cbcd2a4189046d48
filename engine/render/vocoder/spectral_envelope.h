#pragma once

#include "engine/render/vocoder/vocoder_frames.h"

#include <span>

namespace np::vocoder {

// The smallest power an envelope holds: 160 dB below full-scale white noise.
inline constexpr double kPowerFloor = 1e-16;

// The spectral envelope of every 5 ms frame of x: fftSizeForRate(sampleRate) / 2 + 1 bins of linear
// power from 0 Hz to fs / 2, after the F0-adaptive method of M. Morise, "CheapTrick, a spectral
// envelope estimator for high-quality speech synthesis", Speech Communication 67 (2015):
//   1. a Hann window three periods long centred on the frame (the power of a periodic signal under it
//      hardly depends on where the window sits), the windowed mean removed;
//   2. the power spectrum, with the part below F0 given the lobe of the missing harmonic at 0 Hz
//      (mirrored from the lobe of the first harmonic), so that the envelope stays level down to DC;
//   3. a rectangular smoothing 2 F0 / 3 wide in linear power;
//   4. liftering of the log spectrum's cepstrum by sinc(pi F0 q) (a further F0-wide smoothing that
//      removes the harmonic ripple) times 1 - 2 q1 + 2 q1 cos(2 pi F0 q), q1 = -0.05 (sharpening back
//      the peaks that the smoothing flattened).
// Frames whose F0 is 0, not finite or below kF0FloorHz are analysed with kUnvoicedAnalysisHz.
//
// Scale: white noise of variance s^2 gives s^2 in every bin; a harmonic of amplitude a at F0 gives
// about a^2 T0 / 4 around its frequency, with T0 = fs / F0 in samples. Samples outside x count as 0;
// non-finite samples count as 0. Every value is finite and at least kPowerFloor.
//
// f0Hz holds frameCount(x.size(), sampleRate) values (see estimateF0). Throws std::invalid_argument for
// a sample rate or F0 track that does not fit, std::bad_alloc. Pure; runs on the calling thread; takes
// frames x bins doubles for the result and a few FFT-sized buffers.
FrameSpectra estimateSpectralEnvelope(std::span<const double> x, int sampleRate,
                                      std::span<const double> f0Hz);

// The envelope stretched in frequency by ratio (2: formants an octave up): out[k] is the envelope
// interpolated linearly at bin k / ratio, the position held within the envelope, so a ratio below 1
// reads its last bin rather than past it (and a ratio that is not positive or not finite reads bin 0 or
// the last bin, never outside). envelope is not empty; out may have any length. Pure; never throws.
void warpEnvelope(std::span<const double> envelope, double ratio, std::span<double> out) noexcept;

} // namespace np::vocoder
