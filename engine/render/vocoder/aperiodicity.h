#pragma once

#include "engine/render/vocoder/vocoder_frames.h"

#include <span>

namespace np::vocoder {

// The aperiodicity of every 5 ms frame of x: fftSizeForRate(sampleRate) / 2 + 1 values in 0..1 per
// frame, the share of the power at each frequency that is not periodic at the frame's F0 (near 0 for
// a clean harmonic, near 1 for noise). Frames whose F0 is 0, not finite or below kF0FloorHz are 1
// throughout.
//
// Method (the peak-and-valley principle of STRAIGHT's aperiodicity map: H. Kawahara et al.,
// "Aperiodicity extraction and control using mixed mode excitation and group delay manipulation for
// a high quality speech analysis, modification and synthesis system STRAIGHT", MAVEBA 2001):
//   1. four periods around the frame are resampled (Lanczos, 3 lobes) onto a time axis on which the
//      F0 contour, interpolated between frames, is constant, with S samples per period (S a power of
//      two above fs / F0, so nothing below fs / 2 is lost); vibrato and glides then no longer smear
//      the upper harmonics;
//   2. under a periodic Hann window of 4 S samples the DFT of a periodic signal holds harmonic k only
//      in bins 4k-1..4k+1, so the bins 4k +- 2 between harmonics see only the aperiodic part;
//   3. per harmonic, with E the energy of its three bins and V the mean energy of its two
//      between-harmonic bins, each summed over five neighbouring harmonics (which steadies the
//      estimate), the aperiodicity is 4 V / (E + V): a harmonic band is four bins wide and noise puts
//      V into each of them;
//   4. harmonic values are interpolated linearly to the envelope's bins, held below the first and
//      above the last harmonic under 0.48 fs.
//
// f0Hz holds frameCount(x.size(), sampleRate) values (see estimateF0). Non-finite samples count as 0.
// Throws std::invalid_argument for a sample rate or F0 track that does not fit, std::bad_alloc. Pure;
// runs on the calling thread; takes frames x bins doubles for the result and FFT-sized buffers.
FrameSpectra estimateAperiodicity(std::span<const double> x, int sampleRate, std::span<const double> f0Hz);

} // namespace np::vocoder
