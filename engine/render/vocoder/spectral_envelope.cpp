#include "engine/render/vocoder/spectral_envelope.h"

#include "engine/audio/real_fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace np::vocoder {
namespace {

constexpr double kPi = std::numbers::pi;
// q1 of the compensation lifter: -0.05 keeps the level of a resynthesised vowel at 100..400 Hz within
// 0.2 dB (-0.15 sharpened formant peaks enough to add 1 dB).
constexpr double kSharpening = -0.05;

// Linear interpolation of values at a fractional index, clamped to the last value.
double interpolate(const std::vector<double>& values, double position) {
    const auto last = static_cast<double>(values.size() - 1);
    position = std::clamp(position, 0.0, last);
    const auto k = std::min(static_cast<std::size_t>(position), values.size() - 2);
    const double a = position - static_cast<double>(k);
    return (1.0 - a) * values[k] + a * values[k + 1];
}

// One frame's envelope at a time; all buffers are sized once and reused for every frame.
class EnvelopeAnalyzer {
public:
    explicit EnvelopeAnalyzer(int sampleRate)
        : fftSize_(fftSizeForRate(sampleRate)), bins_(fftSize_ / 2 + 1), sampleRate_(sampleRate),
          fft_(static_cast<std::size_t>(fftSize_)), time_(static_cast<std::size_t>(fftSize_)),
          spectrum_(static_cast<std::size_t>(bins_)), power_(static_cast<std::size_t>(bins_)),
          scratch_(static_cast<std::size_t>(bins_)) {}

    int fftSize() const { return fftSize_; }

    void analyse(std::span<const double> x, double centre, double f0, std::span<double> out) {
        f0 = std::min(f0, sampleRate_ / 2.0);
        windowedPower(x, centre, f0);
        fillBelowF0(f0);
        smooth(f0);
        lifter(f0, out);
    }

private:
    double binsPerHz() const { return fftSize_ / sampleRate_; }

    // The power spectrum under a Hann window 3 T0 long centred on centre (fractional sample position),
    // divided by the window's energy.
    void windowedPower(std::span<const double> x, double centre, double f0) {
        const double half = 1.5 * sampleRate_ / f0;
        const auto base = static_cast<std::int64_t>(std::llround(centre));
        const auto reach = static_cast<std::int64_t>(half) + 1;
        window_.resize(static_cast<std::size_t>(2 * reach + 1));
        double sumW = 0.0, sumWX = 0.0, sumW2 = 0.0;
        for (std::int64_t m = -reach; m <= reach; ++m) {
            const double t = static_cast<double>(base + m) - centre;
            const double w = std::abs(t) < half ? 0.5 + 0.5 * std::cos(kPi * t / half) : 0.0;
            window_[static_cast<std::size_t>(m + reach)] = w;
            sumW += w;
            sumWX += w * detail::sampleAt(x, base + m);
            sumW2 += w * w;
        }
        // Removing the windowed mean keeps a DC offset out of the lowest bins.
        const double mean = sumW > 0.0 ? sumWX / sumW : 0.0;
        std::fill(time_.begin(), time_.end(), 0.0);
        // The window spans fewer than fftSize samples (that is what fixes the FFT size), so laying it
        // out circularly around index 0 never folds two samples onto one slot.
        for (std::int64_t m = -reach; m <= reach; ++m)
            if (const double w = window_[static_cast<std::size_t>(m + reach)]; w > 0.0)
                time_[static_cast<std::size_t>((m % fftSize_ + fftSize_) % fftSize_)] =
                    w * (detail::sampleAt(x, base + m) - mean);
        fft_.forward(time_, spectrum_);
        const double scale = sumW2 > 0.0 ? 1.0 / sumW2 : 0.0;
        for (std::size_t k = 0; k < power_.size(); ++k)
            power_[k] = std::norm(spectrum_[k]) * scale;
    }

    // A zero-mean signal has no harmonic at 0 Hz, so below F0 the power dips where a harmonic series
    // would carry a lobe. The first harmonic's lobe, mirrored about F0 / 2, stands in for the missing
    // one: the bin at frequency f < F0 gains the power measured at F0 - f.
    void fillBelowF0(double f0) {
        scratch_ = power_;
        const double f0Bins = f0 * binsPerHz();
        for (int k = 0; k < bins_ && k < f0Bins; ++k)
            power_[static_cast<std::size_t>(k)] += interpolate(scratch_, f0Bins - k);
    }

    // A rectangular average 2 F0 / 3 wide over the power taken as piecewise linear between bins and
    // mirrored at 0 Hz and at fs / 2, from its running integral.
    void smooth(double f0) {
        const double width = 2.0 * f0 / 3.0 * binsPerHz();
        const int margin = static_cast<int>(std::ceil(width / 2.0)) + 1;
        const int last = bins_ - 1;
        const auto mirrored = [&](int j) {
            if (j < 0)
                j = -j;
            if (j > last)
                j = 2 * last - j;
            return power_[static_cast<std::size_t>(std::clamp(j, 0, last))];
        };
        // cumulative_[i] integrates from -margin to -margin + i.
        cumulative_.assign(static_cast<std::size_t>(bins_ + 2 * margin), 0.0);
        for (int i = 1; i < static_cast<int>(cumulative_.size()); ++i)
            cumulative_[static_cast<std::size_t>(i)] =
                cumulative_[static_cast<std::size_t>(i - 1)] +
                0.5 * (mirrored(i - 1 - margin) + mirrored(i - margin));
        const auto integral = [&](double u) {
            const double index = u + margin;
            const auto i = static_cast<int>(index);
            const double a = index - i;
            const double lo = mirrored(i - margin);
            const double hi = mirrored(i + 1 - margin);
            return cumulative_[static_cast<std::size_t>(i)] + a * lo + 0.5 * a * a * (hi - lo);
        };
        for (int k = 0; k < bins_; ++k) {
            const double average = (integral(k + width / 2.0) - integral(k - width / 2.0)) / width;
            // Differences of a long running sum can come out slightly negative in near-silent bands.
            scratch_[static_cast<std::size_t>(k)] = std::max(average, kPowerFloor);
        }
    }

    // Cepstral liftering of the log of the smoothed power (held in scratch_) into out.
    void lifter(double f0, std::span<double> out) {
        for (int k = 0; k < bins_; ++k)
            spectrum_[static_cast<std::size_t>(k)] = {std::log(scratch_[static_cast<std::size_t>(k)]), 0.0};
        fft_.inverse(spectrum_, time_);
        time_[0] /= fftSize_;
        // sin(n a) and cos(2 n a), a = pi F0 / fs, by a rotating phasor.
        const double a = kPi * f0 / sampleRate_;
        const std::complex<double> step = std::polar(1.0, a);
        std::complex<double> phasor = step;
        for (int n = 1; n <= fftSize_ / 2; ++n, phasor *= step) {
            const double x = n * a;
            const double cos2x = phasor.real() * phasor.real() - phasor.imag() * phasor.imag();
            const double gain =
                phasor.imag() / x * (1.0 - 2.0 * kSharpening + 2.0 * kSharpening * cos2x) / fftSize_;
            time_[static_cast<std::size_t>(n)] *= gain;
            if (n < fftSize_ / 2)
                time_[static_cast<std::size_t>(fftSize_ - n)] *= gain;
        }
        fft_.forward(time_, spectrum_);
        for (int k = 0; k < bins_; ++k)
            out[static_cast<std::size_t>(k)] =
                std::max(kPowerFloor, std::exp(spectrum_[static_cast<std::size_t>(k)].real()));
    }

    int fftSize_;
    int bins_;
    double sampleRate_;
    RealFft fft_;
    std::vector<double> time_;
    std::vector<std::complex<double>> spectrum_;
    std::vector<double> power_;
    std::vector<double> scratch_;
    std::vector<double> cumulative_;
    std::vector<double> window_;
};

} // namespace

FrameSpectra estimateSpectralEnvelope(std::span<const double> x, int sampleRate,
                                      std::span<const double> f0Hz) {
    detail::checkAnalysisInput(static_cast<std::int64_t>(x.size()), sampleRate, f0Hz.size());
    EnvelopeAnalyzer analyzer(sampleRate);
    FrameSpectra envelopes;
    envelopes.fftSize = analyzer.fftSize();
    envelopes.frames = static_cast<int>(f0Hz.size());
    envelopes.values.resize(f0Hz.size() * static_cast<std::size_t>(envelopes.bins()));
    const double period = framePeriodSamples(sampleRate);
    for (int i = 0; i < envelopes.frames; ++i)
        analyzer.analyse(x, i * period, detail::analysisF0(f0Hz[static_cast<std::size_t>(i)]),
                         envelopes.frame(i));
    return envelopes;
}

void warpEnvelope(std::span<const double> envelope, double ratio, std::span<double> out) noexcept {
    const auto last = static_cast<double>(envelope.size() - 1);
    for (std::size_t k = 0; k < out.size(); ++k) {
        double position = static_cast<double>(k) / ratio;
        if (!(position < last)) // past the envelope, infinite or NaN
            position = last;
        if (position < 0.0)
            position = 0.0;
        const auto below = static_cast<std::size_t>(position);
        const std::size_t above = std::min(below + 1, envelope.size() - 1);
        const double a = position - static_cast<double>(below);
        out[k] = (1.0 - a) * envelope[below] + a * envelope[above];
    }
}

} // namespace np::vocoder
