#pragma once

#include <complex>
#include <vector>

namespace np {

// In-place radix-2 FFT of a power-of-two length (iterative Cooley-Tukey with bit-reversal ordering):
// X[k] = sum x[n] e^(-2 pi i k n / N) forward, e^(+2 pi i k n / N) inverse, with no scaling either way.
// Lengths 0 and 1 are left alone; other lengths that are not powers of two throw std::invalid_argument.
// Any thread but the audio thread: each thread keeps, per direction, the bit-reversal pairs and
// twiddles of the last length it transformed, and allocates them anew when that length changes;
// std::bad_alloc passes through.
void fftRadix2(std::vector<std::complex<float>>& data, bool inverse);

// The natural-log spectral envelope of a full-length magnitude spectrum (N bins, N a power of two) by
// cepstral smoothing (Oppenheim and Schafer, "Discrete-Time Signal Processing", homomorphic
// deconvolution): the log magnitudes above a floor of 0.001 x the largest magnitude are transformed to
// the cepstrum, quefrencies from `lifter` on are removed (L = min(N/2 - 1, lifter), or 1 when lifter <= 0)
// and the rest is transformed back. When smoothBins > 0 the magnitudes are first replaced, in place, by
// their circular moving RMS over +-min(N/4, smoothBins) bins, so the envelope of a harmonic spectrum
// follows the harmonics rather than the gaps between them. Writes N values into envelope (resized), uses
// work (resized) and returns ln(floor); an empty spectrum returns ln(1e-10).
float cepstralLogEnv(std::vector<float>& magnitudes, std::vector<float>& envelope,
                     std::vector<std::complex<float>>& work, int lifter, int smoothBins);

} // namespace np
