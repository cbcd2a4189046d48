#include "engine/render/vocoder/vocoder_frames.h"

#include <cmath>
#include <stdexcept>

namespace np::vocoder {

int frameCount(std::int64_t samples, int sampleRate) noexcept {
    const double ms = 1000.0 * static_cast<double>(samples) / static_cast<double>(sampleRate);
    return static_cast<int>(ms / kFramePeriodMs) + 1;
}

int fftSizeForRate(int sampleRate) noexcept {
    // The largest e with 2^e <= 3 fs / 71 + 1, in integers (71 x 2^e <= 3 fs + 71), so that no
    // rounding can move a rate whose window length is just a power of two.
    const std::int64_t limit = 3 * static_cast<std::int64_t>(sampleRate) + 71;
    int e = 0;
    while (71 * (std::int64_t{1} << (e + 1)) <= limit)
        ++e;
    return 1 << (e + 1);
}

namespace detail {

void checkSignal(std::int64_t samples, int sampleRate) {
    if (sampleRate < kMinSampleRate || sampleRate > kMaxSampleRate)
        throw std::invalid_argument("The vocoder supports sample rates from 8000 to 384000 Hz");
    if (samples < 0 || samples > kMaxSamples)
        throw std::invalid_argument("The vocoder accepts signals of 0 to 2147483647 samples");
}

void checkAnalysisInput(std::int64_t samples, int sampleRate, std::size_t f0Frames) {
    checkSignal(samples, sampleRate);
    if (f0Frames != static_cast<std::size_t>(frameCount(samples, sampleRate)))
        throw std::invalid_argument("The vocoder's F0 track does not match the length of its signal");
}

double analysisF0(double f0Hz) noexcept {
    return std::isfinite(f0Hz) && f0Hz >= kF0FloorHz ? f0Hz : kUnvoicedAnalysisHz;
}

} // namespace detail

} // namespace np::vocoder
