#pragma once

// The frame grid and spectral layout shared by the four vocoder stages: F0 estimation, the spectral
// envelope, the aperiodicity and the synthesis. Every stage works on frames 5 ms apart, frame i centred
// on the time i x 5 ms, and every per-frame spectrum holds fftSize / 2 + 1 bins of the real FFT size
// that the envelope analysis needs at the sample rate.

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

namespace np::vocoder {

inline constexpr double kFramePeriodMs = 5.0;
// The F0 range the estimator searches and the envelope analysis is sized for.
inline constexpr double kF0FloorHz = 71.0;
inline constexpr double kF0CeilHz = 800.0;
// The envelope of a frame whose F0 is unknown or below the floor is analysed as if it were this F0.
inline constexpr double kUnvoicedAnalysisHz = 500.0;
// Sample rates the stages accept (integers, as the frame grid is defined on whole-sample rates).
inline constexpr int kMinSampleRate = 8000;
inline constexpr int kMaxSampleRate = 384000;
// The longest signal a stage accepts (the render's spans are 32-bit).
inline constexpr std::int64_t kMaxSamples = 2147483647;

// Frames of a signal of `samples` samples: trunc(1000 x samples / fs / 5) + 1. samples within
// 0..kMaxSamples.
int frameCount(std::int64_t samples, int sampleRate) noexcept;

// Samples per frame: fs x 5 / 1000, fractional where fs is not a multiple of 200 (220.5 at 44.1 kHz).
inline double framePeriodSamples(int sampleRate) noexcept {
    return static_cast<double>(sampleRate) * kFramePeriodMs / 1000.0;
}

// The FFT size of the spectral stages: N = 2^(1 + floor(log2(3 fs / 71 + 1))), so that a window of
// three periods at the F0 floor always fits (512 at 8 kHz, 2048 at 44.1 and 48 kHz, 16384 at 384 kHz).
// Memory plans depend on this exact value (np::vocoderFftSize returns it). sampleRate >= 1.
int fftSizeForRate(int sampleRate) noexcept;

// One spectrum per frame (fftSize / 2 + 1 values each), stored frame after frame.
struct FrameSpectra {
    int fftSize = 0;
    int frames = 0;
    std::vector<double> values; // frames x bins()

    int bins() const noexcept { return fftSize / 2 + 1; }
    std::span<const double> frame(int i) const noexcept {
        return {values.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(bins()),
                static_cast<std::size_t>(bins())};
    }
    std::span<double> frame(int i) noexcept {
        return {values.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(bins()),
                static_cast<std::size_t>(bins())};
    }
};

namespace detail {

// Throws std::invalid_argument unless sampleRate lies within kMinSampleRate..kMaxSampleRate and
// samples within 0..kMaxSamples.
void checkSignal(std::int64_t samples, int sampleRate);

// checkSignal, and std::invalid_argument unless the F0 track has frameCount(samples, sampleRate) entries.
void checkAnalysisInput(std::int64_t samples, int sampleRate, std::size_t f0Frames);

// The F0 a frame is analysed with: f0Hz when it is finite and at least kF0FloorHz, else
// kUnvoicedAnalysisHz.
double analysisF0(double f0Hz) noexcept;

// x[i], or 0 outside x or where the sample is not finite.
inline double sampleAt(std::span<const double> x, std::int64_t i) noexcept {
    if (i < 0 || i >= static_cast<std::int64_t>(x.size()))
        return 0.0;
    const double v = x[static_cast<std::size_t>(i)];
    return std::isfinite(v) ? v : 0.0;
}

} // namespace detail

} // namespace np::vocoder
