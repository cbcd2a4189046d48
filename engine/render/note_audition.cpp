#include "engine/render/note_audition.h"

#include "engine/audio/resample.h"
#include "engine/render/render_plan.h"
#include "engine/render/vocoder/aperiodicity.h"
#include "engine/render/vocoder/f0_estimation.h"
#include "engine/render/vocoder/spectral_envelope.h"
#include "engine/render/vocoder/synthesis.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace np {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// The wobble: three slow sines of 0.2 % each, so the held tone does not sound mechanical.
constexpr double kWobbleDepth = 0.002;
constexpr double kWobbleHz[] = {12.7, 7.1, 4.7};

// The rate rounded to an integer, or 0 when it is not finite, below 1 or above the highest rate.
int roundedRate(double sampleRate) noexcept {
    if (!(sampleRate >= 1.0 && sampleRate <= kMaxSampleRateHz))
        return 0;
    return static_cast<int>(std::lround(sampleRate));
}

// The middle of excerpt, at most 0.35 s of it (at the highest rate when the rate is unknown).
std::span<const float> trimmedExcerpt(std::span<const float> excerpt, int fs) noexcept {
    const double rate = fs > 0 ? fs : kMaxSampleRateHz;
    const auto longest = static_cast<std::size_t>(std::ceil(kAuditionExcerptSeconds * rate));
    if (excerpt.size() <= longest)
        return excerpt;
    return excerpt.subspan((excerpt.size() - longest) / 2, longest);
}

// The voiced frame nearest the middle frame m: m - k before m + k for k = 0, 1, ...; -1 when none.
int voicedFrameNearestMiddle(const std::vector<double>& f0) noexcept {
    const auto count = static_cast<int>(f0.size());
    const int middle = count / 2;
    for (int k = 0; k <= middle || middle + k < count; ++k) {
        for (const int i : {middle - k, middle + k})
            if (i >= 0 && i < count && f0[static_cast<std::size_t>(i)] > 0.0)
                return i;
    }
    return -1;
}

// Analyses x at fs and keeps the voiced frame nearest the middle in frozen; leaves it unready when no
// frame is voiced.
void analyseFrame(const std::vector<double>& x, int fs, FrozenNote& frozen) {
    const std::vector<double> f0 = vocoder::estimateF0(x, fs);
    const int chosen = voicedFrameNearestMiddle(f0);
    if (chosen < 0)
        return;
    const vocoder::FrameSpectra envelope = vocoder::estimateSpectralEnvelope(x, fs, f0);
    const vocoder::FrameSpectra aperiodicity = vocoder::estimateAperiodicity(x, fs, f0);
    const std::span<const double> e = envelope.frame(chosen), a = aperiodicity.frame(chosen);
    frozen.envelope.assign(e.begin(), e.end());
    frozen.aperiodicity.assign(a.begin(), a.end());
    frozen.fftSize = envelope.fftSize;
    frozen.ready = true;
}

// Refuses a synthesis whose working set (the double-precision synthesis, the float buffer and, when
// resampling, the converted buffer and the converter) would exceed the render's working set.
void checkSynthesisPlan(std::int64_t frames, int fs, double outputRate, bool resampling) {
    if (frames > AudioBuffer::kMaxSamples)
        throw std::length_error(kAuditionWorkingSetMessage);
    std::uint64_t bytes = static_cast<std::uint64_t>(frames) * (sizeof(double) + sizeof(float));
    if (resampling) {
        std::int64_t outFrames = 0;
        std::size_t sourceBytes = 0, outputBytes = 0, totalBytes = 0;
        if (!checkedResampleWorkingSet(1, frames, fs, outputRate, outFrames, sourceBytes, outputBytes,
                                       totalBytes))
            throw std::length_error(kAuditionWorkingSetMessage);
        bytes += outputBytes + kResampleConverterOverheadBytes;
    }
    if (bytes > kRenderWorkingSetBytes)
        throw std::length_error(kAuditionWorkingSetMessage);
}

// The vocoder's steady tone from the frozen frame.
std::vector<double> synthesizeTone(const FrozenNote& frozen, const AuditionTone& tone, std::int64_t frames) {
    const int fs = frozen.sampleRate;
    const double period = vocoder::framePeriodSamples(fs);
    const auto count = static_cast<std::size_t>(std::max(0.0, std::ceil(frames / period))) + 2;
    std::vector<double> f0(count);
    for (std::size_t j = 0; j < count; ++j) {
        const double t = static_cast<double>(j) * vocoder::kFramePeriodMs / 1000.0;
        double wobble = 0.0;
        for (const double hz : kWobbleHz)
            wobble += std::sin(kTwoPi * hz * t);
        f0[j] = tone.f0Hz * (1.0 + kWobbleDepth * wobble);
    }
    const double ratio =
        std::isfinite(tone.formantRatio) && tone.formantRatio > 0.0 ? tone.formantRatio : 1.0;
    std::vector<double> warped;
    const double* envelope = frozen.envelope.data();
    if (ratio != 1.0) {
        warped.resize(frozen.envelope.size());
        vocoder::warpEnvelope(frozen.envelope, ratio, warped);
        envelope = warped.data();
    }
    // Every frame borrows the one frozen spectrum.
    const std::vector<const double*> envelopes(count, envelope);
    const std::vector<const double*> aperiodicities(count, frozen.aperiodicity.data());
    return vocoder::synthesize({f0, envelopes, aperiodicities, frozen.fftSize}, fs, frames);
}

} // namespace

FrozenNote freezeNoteExcerpt(std::span<const float> excerpt, double sampleRate) {
    FrozenNote frozen;
    frozen.sampleRate = roundedRate(sampleRate);
    const std::span<const float> kept = trimmedExcerpt(excerpt, frozen.sampleRate);
    frozen.excerpt.resize(kept.size());
    std::transform(kept.begin(), kept.end(), frozen.excerpt.begin(),
                   [](float v) { return std::isfinite(v) ? v : 0.0f; });
    if (kept.size() < kAuditionMinAnalysedSamples || frozen.sampleRate < vocoder::kMinSampleRate)
        return frozen;
    try {
        const std::vector<double> x(frozen.excerpt.begin(), frozen.excerpt.end());
        analyseFrame(x, frozen.sampleRate, frozen);
    } catch (const std::exception&) {
        // An excerpt the vocoder cannot analyse is looped as it is.
        frozen.ready = false;
        frozen.envelope.clear();
        frozen.aperiodicity.clear();
    }
    return frozen;
}

AudioBuffer synthesizeAudition(const FrozenNote& frozen, const AuditionTone& tone,
                               const std::function<bool()>& keepGoing) {
    const std::int64_t frames = std::max<std::int64_t>(0, tone.frames);
    const int fs = frozen.sampleRate;
    const bool resampling = tone.outputRate > 0.0 && fs >= 1 && tone.outputRate != fs;
    checkSynthesisPlan(frames, fs, tone.outputRate, resampling);

    AudioBuffer out;
    out.resize(1, frames);
    if (frozen.ready) {
        const std::vector<double> y = synthesizeTone(frozen, tone, frames);
        std::transform(y.begin(), y.end(), out.samples.begin(),
                       [](double v) { return static_cast<float>(v); });
    } else if (frozen.excerpt.size() >= 2) {
        detail::loopExcerpt(frozen.excerpt, out.samples);
    }
    if (resampling)
        return resampleBuffer(out, fs, tone.outputRate, keepGoing);
    return out;
}

namespace detail {

void loopExcerpt(std::span<const float> excerpt, std::span<float> out) noexcept {
    const std::size_t n = excerpt.size();
    if (n < 2)
        return;
    const std::size_t seam = std::min(n / 2, kAuditionMaxSeamSamples);
    const std::size_t plain = n - seam; // the loop's period: every pass after the first starts at `seam`
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::size_t k = i < seam ? i : seam + (i - seam) % plain;
        if (k < plain) {
            out[i] = excerpt[k];
            continue;
        }
        // The tail fades out while the head it leads into fades in, so the jump back to `seam`
        // continues the head where the fade left it.
        const std::size_t d = k - plain;
        const double u = static_cast<double>(d) / static_cast<double>(seam) * std::numbers::pi / 2.0;
        out[i] = static_cast<float>(std::sin(u) * excerpt[d] + std::cos(u) * excerpt[k]);
    }
}

} // namespace detail

} // namespace np
