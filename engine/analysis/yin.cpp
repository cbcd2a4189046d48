#include "engine/analysis/yin.h"

#include "engine/audio/real_fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <stdexcept>

namespace np {

// The FFT's time buffer (2*window) holds the window and its zero padding, then the autocorrelation,
// then in place the difference and the normalised difference; its spectrum buffer holds the power
// spectrum. Only the cumulative energy needs a buffer of its own.
struct YinFrameAnalyzer::Impl {
    RealFft fft;
    double roundTripScale = 1.0;
    std::vector<double> energy; // window + 1: cumulative sum of squares of the loaded window
    const float* loaded = nullptr;
    bool constant = false; // every sample of the loaded window is equal

    explicit Impl(int window)
        : fft(static_cast<std::size_t>(window) * 2), energy(static_cast<std::size_t>(window) + 1, 0.0) {
        // Measure the gain of a forward-inverse round trip on an impulse instead of assuming the FFT's
        // normalisation.
        const std::span<double> time = fft.timeBuffer();
        std::fill(time.begin(), time.end(), 0.0);
        time[0] = 1.0;
        fft.forwardInPlace();
        squareMagnitudes();
        fft.inverseInPlace();
        roundTripScale = 1.0 / time[0];
    }

    void squareMagnitudes() noexcept {
        for (auto& bin : fft.spectrumBuffer()) {
            const double re = bin.real();
            const double im = bin.imag();
            const double power = (std::isinf(re) || std::isinf(im)) ? std::numeric_limits<double>::infinity()
                                                                    : re * re + im * im;
            bin = {power, 0.0};
        }
    }
};

YinFrameAnalyzer::YinFrameAnalyzer(int window, double sampleRate, double minHz, double maxHz) {
    const auto positive = [](double v) { return std::isfinite(v) && v > 0.0; };
    if (window < 2 || !positive(sampleRate) || !positive(minHz) || !positive(maxHz))
        throw std::invalid_argument(
            "The pitch analyser needs a window of at least 2 samples and positive rates");
    window_ = window;
    sampleRate_ = sampleRate;
    // Lags are bounded by the window before conversion, so a tiny minHz cannot overflow the integer.
    const double shortest = std::min(std::trunc(sampleRate / maxHz), static_cast<double>(window));
    minLag_ = std::max(2, static_cast<int>(shortest));
    const double longest = std::min(std::trunc(sampleRate / minHz) + 1.0, static_cast<double>(window / 2));
    maxLag_ = static_cast<int>(longest);
    impl_ = std::make_unique<Impl>(window_);
}

YinFrameAnalyzer::~YinFrameAnalyzer() = default;

std::size_t YinFrameAnalyzer::workingBytes(int window) noexcept {
    // Time buffer and spectrum of twice the window, the energy table, and FFTW's plans, which hold
    // about one more spectrum of twiddle factors.
    const auto w = static_cast<std::size_t>(std::max(window, 1));
    return 2 * w * sizeof(double) + (w + 1) * sizeof(std::complex<double>) * 2 + (w + 1) * sizeof(double);
}

double YinFrameAnalyzer::load(const float* frame) noexcept {
    Impl& s = *impl_;
    const auto w = static_cast<std::size_t>(window_);
    double* energy = s.energy.data();
    const float first = frame[0];
    bool constant = true;
    double sum = 0.0;
    energy[0] = 0.0;
    for (std::size_t i = 0; i < w; ++i) {
        const auto x = static_cast<double>(frame[i]);
        constant = constant && frame[i] == first;
        sum += x * x;
        energy[i + 1] = sum;
    }
    s.loaded = frame;
    s.constant = constant;
    return sum;
}

void YinFrameAnalyzer::analyze(const float* frame, std::vector<YinCandidate>& out, double threshold) {
    load(frame);
    analyzeLoaded(out, threshold);
}

void YinFrameAnalyzer::analyzeLoaded(std::vector<YinCandidate>& out, double threshold) {
    out.clear();
    Impl& s = *impl_;
    if (s.loaded == nullptr || s.constant)
        return;
    const auto w = static_cast<std::size_t>(window_);
    double* time = s.fft.timeBuffer().data();
    const float* frame = s.loaded;
    for (std::size_t i = 0; i < w; ++i)
        time[i] = static_cast<double>(frame[i]);
    // Zero padding to twice the window turns the circular correlation into a linear one; the inverse
    // transform of the previous frame overwrote it.
    std::fill(time + w, time + 2 * w, 0.0);
    s.fft.forwardInPlace();
    s.squareMagnitudes();
    s.fft.inverseInPlace();

    // time[tau] holds the autocorrelation times the round-trip gain; each lag is read once and
    // replaced by its difference, then by its normalised difference.
    const double* energy = s.energy.data();
    const auto maxLag = static_cast<std::size_t>(maxLag_);
    const double total = energy[w];
    const double scale = s.roundTripScale;
    for (std::size_t tau = 0; tau <= maxLag; ++tau) {
        const double d = (total - energy[tau]) + energy[w - tau] - 2.0 * scale * time[tau];
        time[tau] = std::max(0.0, d);
    }
    double* dn = time;
    double running = 0.0;
    for (std::size_t tau = 1; tau <= maxLag; ++tau) {
        const double d = dn[tau];
        running += d;
        dn[tau] = running > 0.0 ? d * static_cast<double>(tau) / running : 1.0;
    }
    dn[0] = 1.0;

    const auto first = static_cast<std::size_t>(std::max(2, minLag_));
    for (std::size_t tau = first; tau + 1 <= maxLag; ++tau) {
        const double here = dn[tau];
        // Greater-or-equal neighbours: a minimum on a flat plateau still counts.
        if (!(here < threshold) || dn[tau - 1] < here || dn[tau + 1] < here)
            continue;
        const double before = dn[tau - 1];
        const double after = dn[tau + 1];
        double lag = static_cast<double>(tau);
        double value = here;
        const double den = before - 2.0 * here + after;
        if (std::abs(den) > 1e-12) {
            const double shift = 0.5 * (before - after) / den;
            if (std::abs(shift) < 1.0) {
                lag += shift;
                value = here - 0.25 * (before - after) * shift;
            }
        }
        out.push_back({sampleRate_ / lag, std::max(0.0, value)});
    }
}

} // namespace np
