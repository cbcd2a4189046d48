#include "engine/render/vocoder/f0_estimation.h"

#include "engine/analysis/pyin.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <stdexcept>

namespace np::vocoder {
namespace {

// The tracker's window must hold two periods of the F0 floor: its longest lag is half the window.
std::uint32_t trackerWindow(int sampleRate) {
    const auto longestLag = static_cast<std::uint32_t>(sampleRate / kF0FloorHz) + 1;
    return std::bit_ceil(2 * longestLag);
}

PYinConfig trackerConfig(int sampleRate) {
    PYinConfig config;
    config.hop = static_cast<std::uint32_t>(std::max(1, sampleRate / 200));
    config.minHz = kF0FloorHz;
    config.maxHz = kF0CeilHz;
    return config;
}

// The F0 at tracker position k (fractional, in tracker frames).
double readTrack(const PitchTrack& track, double k) {
    const auto last = static_cast<double>(track.frames.size() - 1);
    k = std::clamp(k, 0.0, last);
    const auto k0 = static_cast<std::size_t>(k);
    const std::size_t k1 = std::min(k0 + 1, track.frames.size() - 1);
    const double a = k - static_cast<double>(k0);
    const PitchFrame& lo = track.frames[k0];
    const PitchFrame& hi = track.frames[k1];
    double hz = 0.0;
    if (lo.voiced && hi.voiced && lo.hz > 0.0 && hi.hz > 0.0)
        hz = std::exp((1.0 - a) * std::log(lo.hz) + a * std::log(hi.hz));
    else {
        const PitchFrame& nearest = a < 0.5 ? lo : hi;
        hz = nearest.voiced ? nearest.hz : 0.0;
    }
    return hz > 0.0 ? std::clamp(hz, kF0FloorHz, kF0CeilHz) : 0.0;
}

// The F0 of every frame from one tracking pass with the given window.
std::vector<double> trackFrames(std::span<const double> x, double scale, int sampleRate, std::uint32_t window,
                                int frames) {
    PYinConfig config = trackerConfig(sampleRate);
    config.frame = window;
    // Padding: half a window in front centres tracker frame k on sample k x hop; half a window plus a
    // hop behind gives the last 5 ms frame a tracker frame at or after it.
    const std::size_t pad = window / 2;
    std::vector<float> padded(pad + x.size() + pad + config.hop, 0.0f);
    std::transform(x.begin(), x.end(), padded.begin() + static_cast<std::ptrdiff_t>(pad),
                   [scale](double v) { return std::isfinite(v) ? static_cast<float>(v * scale) : 0.0f; });
    const auto total = static_cast<std::int64_t>(padded.size());
    if (!planPYinDecoderMemory(total, sampleRate, config).ok)
        throw std::length_error("The vocoder's F0 analysis cannot track a signal this long");
    const PitchTrack track = trackPitchPYin(padded.data(), total, sampleRate, config, {});
    std::vector<double> f0(static_cast<std::size_t>(frames), 0.0);
    if (track.frames.empty())
        return f0;
    const double trackFramesPerFrame = framePeriodSamples(sampleRate) / static_cast<double>(config.hop);
    for (int i = 0; i < frames; ++i)
        f0[static_cast<std::size_t>(i)] = readTrack(track, i * trackFramesPerFrame);
    return f0;
}

} // namespace

std::vector<double> estimateF0(std::span<const double> x, int sampleRate) {
    const auto samples = static_cast<std::int64_t>(x.size());
    detail::checkSignal(samples, sampleRate);
    const int frames = frameCount(samples, sampleRate);
    double peak = 0.0;
    for (const double v : x)
        if (std::isfinite(v))
            peak = std::max(peak, std::abs(v));
    if (peak <= 0.0)
        return std::vector<double>(static_cast<std::size_t>(frames), 0.0);

    const std::uint32_t window = trackerWindow(sampleRate);
    std::vector<double> f0 = trackFrames(x, 1.0 / peak, sampleRate, window, frames);
    // A long window smears a fast glide of a low voice (an octave in a quarter second at 110 Hz)
    // until no period fits it. A second pass with half the window, which reaches down to about
    // 2 fs / window, fills frames the first pass left unvoiced.
    if (std::find(f0.begin(), f0.end(), 0.0) != f0.end()) {
        const std::vector<double> shorter = trackFrames(x, 1.0 / peak, sampleRate, window / 2, frames);
        for (std::size_t i = 0; i < f0.size(); ++i)
            if (f0[i] == 0.0)
                f0[i] = shorter[i];
    }
    return f0;
}

} // namespace np::vocoder
