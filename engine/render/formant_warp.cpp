#include "engine/render/formant_warp.h"

#include "engine/render/centred_frame.h"
#include "engine/render/spectral_envelope.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace np {
namespace {

constexpr std::size_t kFrame = 2048;
constexpr std::size_t kHop = 512;
constexpr std::size_t kHalf = kFrame / 2;
constexpr int kDefaultLifter = 30;
// Window weight below which the engine's audio is kept, and the width of the blend above it.
constexpr double kMinWeight = 0.05;
constexpr double kBlendWeight = 0.45;
// Output bins this close to their floor (natural log) are never boosted.
constexpr float kFloorMargin = 0.35f;

// Per-frame settings read from the track and the curves.
struct FrameSettings {
    double formantRatio = 1.0;
    int lifter = kDefaultLifter;
    int outputSmoothing = 0;
    int sourceSmoothing = 0;
};

double curveAt(const std::vector<double>* curve, std::int64_t index) {
    if (curve == nullptr || curve->empty())
        return 0.0;
    return (*curve)[std::min(static_cast<std::size_t>(index), curve->size() - 1)];
}

FrameSettings frameSettings(const FormantWarpParams& params, std::int64_t q) {
    FrameSettings s;
    const double f0 = detail::warpFrameF0(params.track, q);
    if (!(f0 > 0.0))
        return s;
    const PitchTrack* track = params.track;
    const std::int64_t hop = track->hop;
    const std::int64_t index =
        std::max<std::int64_t>(0, q + static_cast<std::int64_t>(kHalf) - params.sourceStart) / hop;
    s.formantRatio = std::exp2(curveAt(params.formantCents, index) / 1200.0);
    const double pitchRatio = std::exp2(curveAt(params.pitchCents, index) / 1200.0);
    const double rate = track->sampleRate;
    const double highest = std::max(f0, pitchRatio * f0);
    if (rate > 0 && highest > 0) {
        // Lifter at half the harmonic period in samples: the cepstrum keeps the envelope, not the harmonics.
        const long lifter = std::lround(0.5 * rate / highest);
        s.lifter = static_cast<int>(std::min<long>(lifter < 25 ? 24 : lifter, 160));
        // Smoothing over half a harmonic spacing.
        s.outputSmoothing = static_cast<int>(std::lround(0.5 * pitchRatio * f0 * kFrame / rate));
        s.sourceSmoothing = static_cast<int>(std::lround(0.5 * f0 * kFrame / rate));
    }
    return s;
}

// Buffers of one call, reused for every frame and channel.
struct WarpBuffers {
    std::vector<float> window = std::vector<float>(kFrame);
    std::vector<std::complex<float>> spectrum = std::vector<std::complex<float>>(kFrame);
    std::vector<std::complex<float>> sourceSpectrum = std::vector<std::complex<float>>(kFrame);
    std::vector<std::complex<float>> work = std::vector<std::complex<float>>(kFrame);
    std::vector<float> outputMagnitudes = std::vector<float>(kFrame);
    std::vector<float> sourceMagnitudes = std::vector<float>(kFrame);
    std::vector<float> outputEnvelope, sourceEnvelope;
    std::vector<float> warped = std::vector<float>(kFrame);
    std::vector<double> sum, weight;
};

// Corrects one frame's spectrum in place against the source frame's.
void correctFrame(WarpBuffers& b, const FrameSettings& s) {
    for (std::size_t k = 0; k < kFrame; ++k) {
        b.outputMagnitudes[k] = std::abs(b.spectrum[k]);
        b.sourceMagnitudes[k] = std::abs(b.sourceSpectrum[k]);
    }
    const float outputFloor =
        cepstralLogEnv(b.outputMagnitudes, b.outputEnvelope, b.work, s.lifter, s.outputSmoothing);
    cepstralLogEnv(b.sourceMagnitudes, b.sourceEnvelope, b.work, s.lifter, s.sourceSmoothing);

    float lo = -std::log(3.0f), hi = std::log(3.0f);
    const std::vector<float>* target = &b.sourceEnvelope;
    if (s.formantRatio != 1.0) {
        lo = -std::log(16.0f);
        hi = std::log(8.0f);
        // The source envelope stretched in frequency: bin k takes the value at k / ratio.
        for (std::size_t k = 0; k <= kHalf; ++k) {
            const double x = static_cast<double>(k) / s.formantRatio;
            const auto i =
                static_cast<std::size_t>(std::clamp(std::floor(x), 0.0, static_cast<double>(kHalf)));
            const std::size_t j = std::min(i + 1, kHalf);
            const auto frac = static_cast<float>(std::clamp(x - static_cast<double>(i), 0.0, 1.0));
            b.warped[k] = b.sourceEnvelope[i] + (b.sourceEnvelope[j] - b.sourceEnvelope[i]) * frac;
        }
        for (std::size_t k = kHalf + 1; k < kFrame; ++k)
            b.warped[k] = b.warped[kFrame - k];
        target = &b.warped;
    }
    for (std::size_t k = 0; k < kFrame; ++k) {
        const float d = std::clamp((*target)[k] - b.outputEnvelope[k], lo, hi);
        const bool nearFloor = d > 0 && b.outputEnvelope[k] < outputFloor + kFloorMargin;
        if (!nearFloor)
            b.spectrum[k] *= std::exp(d);
    }
}

} // namespace

namespace detail {

double warpFrameF0(const PitchTrack* track, std::int64_t q) noexcept {
    if (track == nullptr || track->hop < 1)
        return 0.0;
    const std::int64_t centred = frameCentredAt(*track, q + static_cast<std::int64_t>(kHalf));
    const auto frame = static_cast<std::size_t>(std::max<std::int64_t>(0, centred));
    if (frame >= track->frames.size() || !track->frames[frame].voiced || !(track->frames[frame].hz > 0))
        return 0.0;
    return track->frames[frame].hz;
}

} // namespace detail

void applyFormantWarp(AudioBuffer& out, const AudioBuffer& source, const FormantWarpParams& params) {
    if (out.frames < static_cast<std::int64_t>(kFrame) || out.channels < 1)
        return;
    WarpBuffers b;
    for (std::size_t n = 0; n < kFrame; ++n)
        b.window[n] = static_cast<float>(
            0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(n) / kFrame));
    const auto frames = static_cast<std::size_t>(out.frames);
    b.sum.resize(frames);
    b.weight.resize(frames);

    for (int c = 0; c < out.channels; ++c) {
        std::span<float> x = out.channel(c);
        const int sourceChannel = c < source.channels ? c : 0;
        std::span<const float> src =
            source.channels > 0 ? source.channel(sourceChannel) : std::span<const float>();
        std::fill(b.sum.begin(), b.sum.end(), 0.0);
        std::fill(b.weight.begin(), b.weight.end(), 0.0);
        for (std::size_t p = 0; p + kFrame <= frames; p += kHop) {
            const std::int64_t q =
                std::llround(static_cast<double>(p) * params.timeRatio) + params.sourceStart;
            const FrameSettings settings = frameSettings(params, q);
            for (std::size_t n = 0; n < kFrame; ++n) {
                b.spectrum[n] = x[p + n] * b.window[n];
                const std::int64_t s = q + static_cast<std::int64_t>(n);
                const float v = s >= 0 && s < static_cast<std::int64_t>(src.size())
                                    ? src[static_cast<std::size_t>(s)]
                                    : 0.0f;
                b.sourceSpectrum[n] = v * b.window[n];
            }
            fftRadix2(b.spectrum, false);
            fftRadix2(b.sourceSpectrum, false);
            correctFrame(b, settings);
            fftRadix2(b.spectrum, true);
            for (std::size_t n = 0; n < kFrame; ++n) {
                const double w = b.window[n];
                b.sum[p + n] += w * b.spectrum[n].real() / static_cast<double>(kFrame);
                b.weight[p + n] += w * w;
            }
        }
        for (std::size_t i = 0; i < frames; ++i) {
            const double s = b.weight[i];
            const double v = b.sum[i] / s;
            if (!(s > kMinWeight) || !std::isfinite(v))
                continue;
            const double a = std::clamp((s - kMinWeight) / kBlendWeight, 0.0, 1.0);
            const double g = a * a * (3.0 - 2.0 * a);
            x[i] = static_cast<float>(x[i] + (v - x[i]) * g);
        }
    }
}

void transplantEnvelope(AudioBuffer& out, const AudioBuffer& source, long long sourceStart,
                        double timeRatio) {
    FormantWarpParams params;
    params.sourceStart = sourceStart;
    params.timeRatio = timeRatio;
    applyFormantWarp(out, source, params);
}

} // namespace np
