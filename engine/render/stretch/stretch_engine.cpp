#include "engine/render/stretch/stretch_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>

namespace np {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kMinBlock = 16;
constexpr int kMaxBlock = 65536;

int powerOfTwoAtLeast(int n) {
    int p = 1;
    while (p < n)
        p *= 2;
    return p;
}

} // namespace

StretchEngine::StretchEngine() = default;
StretchEngine::~StretchEngine() = default;
StretchEngine::StretchEngine(StretchEngine&&) noexcept = default;
StretchEngine& StretchEngine::operator=(StretchEngine&&) noexcept = default;

void StretchEngine::configure(int channels, int blockSamples, int intervalSamples) {
    if (channels < 1 || channels > 2 || blockSamples < kMinBlock || blockSamples > kMaxBlock ||
        intervalSamples < 1 || intervalSamples > blockSamples / 2)
        throw std::invalid_argument("Stretch engine settings are out of range");
    const int half = powerOfTwoAtLeast(blockSamples);
    // Twice zero-padded: a peak's neighbours within +-2 bins lie inside its main lobe.
    const int fftSize = 2 * half;
    const auto w = static_cast<std::size_t>(blockSamples);
    const auto n = static_cast<std::size_t>(fftSize);
    const auto bins = n / 2 + 1;

    auto fft = std::make_unique<RealFft>(n);
    std::vector<float> window(w), derivative(w);
    std::vector<double> norm(static_cast<std::size_t>(intervalSamples), 0.0);
    for (std::size_t i = 0; i < w; ++i) {
        const double x = kTwoPi * static_cast<double>(i) / blockSamples;
        window[i] = static_cast<float>(0.5 - 0.5 * std::cos(x));
        derivative[i] = static_cast<float>(0.5 * kTwoPi / blockSamples * std::sin(x));
    }
    // Frames start every H samples, so the sum of squared windows over a sample repeats with period H.
    for (std::size_t u = 0; u < norm.size(); ++u) {
        double sum = 0.0;
        for (std::size_t i = u; i < w; i += norm.size())
            sum += static_cast<double>(window[i]) * window[i];
        norm[u] = 1.0 / sum;
    }
    PeakShifter shifter;
    shifter.configure(static_cast<int>(bins), fftSize, intervalSamples);

    fft_ = std::move(fft);
    shifter_ = std::move(shifter);
    window_ = std::move(window);
    derivative_ = std::move(derivative);
    norm_ = std::move(norm);
    raw_.assign(w, 0.0f);
    mixRaw_.assign(w, 0.0f);
    spectra_.assign(static_cast<std::size_t>(channels), std::vector<std::complex<float>>(bins));
    reference_.assign(channels > 1 ? bins : 0, {});
    history_.assign(static_cast<std::size_t>(channels), std::vector<float>(w, 0.0f));
    accumulator_.assign(static_cast<std::size_t>(channels),
                        std::vector<float>(static_cast<std::size_t>(half)));
    accumulatorMask_ = half - 1;
    channels_ = channels;
    block_ = blockSamples;
    interval_ = intervalSamples;
    fftSize_ = fftSize;
    bins_ = static_cast<int>(bins);
    factor_ = 1.0;
    reset();
}

void StretchEngine::reset() noexcept {
    for (auto& h : history_)
        std::fill(h.begin(), h.end(), 0.0f);
    for (auto& a : accumulator_)
        std::fill(a.begin(), a.end(), 0.0f);
    shifter_.reset();
    // The first frame starts W - H before the first output, so output 0 is already fully overlapped.
    firstFrame_ = -(block_ - interval_);
    nextFrame_ = firstFrame_;
    inputPosition_ = 0;
    outputPosition_ = 0;
    lastInputEnd_ = 0;
}

void StretchEngine::setTransposeFactor(double factor) noexcept {
    if (std::isfinite(factor) && factor > 0.0)
        factor_ = factor;
}

std::int64_t StretchEngine::seekLength(double playbackRate) const noexcept {
    const double rate = std::isfinite(playbackRate) ? std::clamp(playbackRate, 0.0, 1e12) : 0.0;
    return block_ + static_cast<std::int64_t>(std::ceil(rate * (block_ - interval_)));
}

void StretchEngine::seek(const float* const* inputs, std::int64_t frames, double playbackRate) noexcept {
    reset();
    if (channels_ == 0)
        return;
    const double rate = std::isfinite(playbackRate) ? std::max(0.0, playbackRate) : 0.0;
    const InputView in{inputs, 0, std::max<std::int64_t>(0, frames)};
    // The frames before the first output, placed as if the run had started here at this rate.
    while (nextFrame_ < 0) {
        makeFrame(in, std::llround(static_cast<double>(in.frames) + static_cast<double>(nextFrame_) * rate));
        nextFrame_ += interval_;
    }
    keepHistory(in);
    inputPosition_ = in.frames;
}

void StretchEngine::process(const float* const* inputs, std::int64_t inputFrames, float* const* outputs,
                            std::int64_t outputFrames) noexcept {
    if (channels_ == 0)
        return;
    const InputView in{inputs, inputPosition_, std::max<std::int64_t>(0, inputFrames)};
    if (outputFrames > 0) {
        const double slope = static_cast<double>(in.frames) / static_cast<double>(outputFrames);
        run(in, static_cast<double>(inputPosition_), outputPosition_, slope, outputs, outputPosition_,
            outputPosition_ + outputFrames);
    }
    keepHistory(in);
    inputPosition_ += in.frames;
}

void StretchEngine::run(const InputView& in, double anchorIn, std::int64_t anchorOut, double slope,
                        float* const* outputs, std::int64_t from, std::int64_t to) noexcept {
    std::int64_t o = from;
    while (o < to) {
        if (nextFrame_ <= o) {
            const double end = anchorIn + static_cast<double>(nextFrame_ - anchorOut) * slope;
            makeFrame(in, std::llround(end));
            nextFrame_ += interval_;
            continue;
        }
        // Every frame that overlaps [o, e) has been added: emit it normalised and clear the ring.
        const std::int64_t e = std::min(to, nextFrame_);
        for (int c = 0; c < channels_; ++c) {
            float* ring = accumulator_[static_cast<std::size_t>(c)].data();
            float* out = outputs != nullptr ? outputs[c] + (o - from) : nullptr;
            // The normalisation's index, (p - firstFrame_) mod H, kept by counting rather than dividing.
            std::int64_t phase = (o - firstFrame_) % interval_;
            for (std::int64_t p = o; p < e; ++p) {
                const std::int64_t slot = p & accumulatorMask_;
                if (out != nullptr)
                    *out++ = static_cast<float>(ring[slot] * norm_[static_cast<std::size_t>(phase)]);
                ring[slot] = 0.0f;
                if (++phase == interval_)
                    phase = 0;
            }
        }
        o = e;
    }
    outputPosition_ = to;
}

void StretchEngine::readWindow(const InputView& in, int channel, std::int64_t inputEnd) noexcept {
    const std::int64_t w = block_;
    const std::int64_t begin = inputEnd - w;
    const auto c = static_cast<std::size_t>(channel);
    float* raw = raw_.data();
    std::fill(raw, raw + w, 0.0f);
    // The history holds stream [in.start - W, in.start); the call's data holds [in.start, in.start + frames).
    const std::int64_t hLo = std::max(begin, in.start - w), hHi = std::min(inputEnd, in.start);
    if (hLo < hHi)
        std::memcpy(raw + (hLo - begin), history_[c].data() + (hLo - (in.start - w)),
                    static_cast<std::size_t>(hHi - hLo) * sizeof(float));
    const std::int64_t dLo = std::max(begin, in.start), dHi = std::min(inputEnd, in.start + in.frames);
    if (in.data != nullptr && dLo < dHi)
        std::memcpy(raw + (dLo - begin), in.data[channel] + (dLo - in.start),
                    static_cast<std::size_t>(dHi - dLo) * sizeof(float));
}

void StretchEngine::makeFrame(const InputView& in, std::int64_t inputEnd) noexcept {
    const std::int64_t analysisHop = inputEnd - lastInputEnd_;
    const bool relock = factor_ == 1.0 && analysisHop == interval_;
    lastInputEnd_ = inputEnd;
    const auto w = static_cast<std::size_t>(block_);
    const auto n = static_cast<std::size_t>(fftSize_);
    const auto centre = static_cast<std::size_t>(outputLatency());
    // Zero-phase windows: the window's centre sits at index 0, its first half at the end of the buffer.
    const auto slot = [&](std::size_t i) { return i >= centre ? i - centre : i + n - centre; };

    // The transform's own buffers, used in place: no copies in or out.
    const std::span<double> time = fft_->timeBuffer();
    const std::span<std::complex<double>> spectrum = fft_->spectrumBuffer();
    // Fills the time buffer with a window of samples under a window function, zero-padded between the
    // window's two halves.
    const auto windowed = [&](const std::vector<float>& samples, const std::vector<float>& function) {
        std::fill(time.begin() + static_cast<std::ptrdiff_t>(w - centre),
                  time.begin() + static_cast<std::ptrdiff_t>(n - centre), 0.0);
        for (std::size_t i = 0; i < w; ++i)
            time[slot(i)] = static_cast<double>(samples[i]) * function[i];
    };

    bool sound = false;
    std::fill(mixRaw_.begin(), mixRaw_.end(), 0.0f);
    for (int c = 0; c < channels_; ++c) {
        readWindow(in, c, inputEnd);
        for (std::size_t i = 0; i < w; ++i) {
            sound = sound || raw_[i] != 0.0f;
            mixRaw_[i] += raw_[i];
        }
        windowed(raw_, window_);
        fft_->forwardInPlace();
        std::transform(spectrum.begin(), spectrum.end(), spectra_[static_cast<std::size_t>(c)].begin(),
                       [](std::complex<double> v) { return std::complex<float>(v); });
    }
    if (!sound) {
        // Silence in, silence out; the next sound starts from its analysis phases.
        shifter_.reset();
        return;
    }
    PeakShifter::Spectrum reference = spectra_[0];
    if (channels_ > 1) {
        for (std::size_t k = 0; k < reference_.size(); ++k)
            reference_[k] = spectra_[0][k] + spectra_[1][k];
        reference = reference_;
    }
    windowed(mixRaw_, derivative_);
    fft_->forwardInPlace();
    shifter_.plan(reference, spectrum, factor_, analysisHop, relock);
    if (shifter_.silent())
        return;

    const double scale = 1.0 / static_cast<double>(n);
    for (int c = 0; c < channels_; ++c) {
        shifter_.apply(spectra_[static_cast<std::size_t>(c)], spectrum);
        fft_->inverseInPlace();
        float* ring = accumulator_[static_cast<std::size_t>(c)].data();
        // Output positions before 0 are never emitted.
        const std::size_t first = nextFrame_ < 0 ? static_cast<std::size_t>(-nextFrame_) : 0;
        for (std::size_t i = first; i < w; ++i) {
            const std::int64_t p = nextFrame_ + static_cast<std::int64_t>(i);
            ring[p & accumulatorMask_] += static_cast<float>(time[slot(i)] * scale * window_[i]);
        }
    }
}

void StretchEngine::keepHistory(const InputView& in) noexcept {
    const std::int64_t w = block_;
    const std::int64_t keep = std::max<std::int64_t>(0, w - in.frames); // old samples still in the last W
    for (int c = 0; c < channels_; ++c) {
        float* h = history_[static_cast<std::size_t>(c)].data();
        if (keep > 0)
            std::memmove(h, h + (w - keep), static_cast<std::size_t>(keep) * sizeof(float));
        const std::int64_t fresh = w - keep;
        if (in.data != nullptr)
            std::memcpy(h + keep, in.data[c] + (in.frames - fresh),
                        static_cast<std::size_t>(fresh) * sizeof(float));
        else
            std::fill(h + keep, h + w, 0.0f);
    }
}

} // namespace np
