#include "engine/analysis/yin.h"

#include "engine/audio/real_fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <stdexcept>

namespace np {

struct YinFrameAnalyzer::Impl {
    RealFft fft;
    std::vector<double> time;                   // 2*window: the window, then zeros
    std::vector<std::complex<double>> spectrum; // window + 1 bins
    std::vector<double> autocorrelation;        // 2*window, scaled by the FFT round-trip gain
    double roundTripScale = 1.0;
    std::vector<double> energy;     // window + 1: cumulative sum of squares
    std::vector<double> difference; // maxLag + 1
    std::vector<double> normalised; // maxLag + 1

    Impl(int window, int maxLag)
        : fft(static_cast<std::size_t>(window) * 2), time(static_cast<std::size_t>(window) * 2, 0.0),
          spectrum(fft.bins()), autocorrelation(static_cast<std::size_t>(window) * 2, 0.0),
          energy(static_cast<std::size_t>(window) + 1, 0.0),
          difference(static_cast<std::size_t>(maxLag) + 1, 0.0),
          normalised(static_cast<std::size_t>(maxLag) + 1, 1.0) {
        // Measure the gain of a forward-inverse round trip on an impulse instead of assuming the FFT's
        // normalisation.
        time[0] = 1.0;
        fft.forward(time, spectrum);
        squareMagnitudes();
        fft.inverse(spectrum, autocorrelation);
        roundTripScale = 1.0 / autocorrelation[0];
        std::fill(time.begin(), time.end(), 0.0);
    }

    void squareMagnitudes() noexcept {
        for (auto& bin : spectrum) {
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
    impl_ = std::make_unique<Impl>(window_, maxLag_);
}

YinFrameAnalyzer::~YinFrameAnalyzer() = default;

void YinFrameAnalyzer::analyze(const float* frame, std::vector<YinCandidate>& out, double threshold) {
    out.clear();
    Impl& s = *impl_;
    const auto w = static_cast<std::size_t>(window_);
    for (std::size_t i = 0; i < w; ++i)
        s.time[i] = static_cast<double>(frame[i]);
    // The second half of the time buffer stays zero from construction: zero padding to twice the
    // window turns the circular correlation into a linear one.
    s.fft.forward(s.time, s.spectrum);
    s.squareMagnitudes();
    s.fft.inverse(s.spectrum, s.autocorrelation);

    s.energy[0] = 0.0;
    for (std::size_t i = 0; i < w; ++i)
        s.energy[i + 1] = s.energy[i] + s.time[i] * s.time[i];

    const auto maxLag = static_cast<std::size_t>(maxLag_);
    const double total = s.energy[w];
    for (std::size_t tau = 0; tau <= maxLag; ++tau) {
        const double d =
            (total - s.energy[tau]) + s.energy[w - tau] - 2.0 * s.roundTripScale * s.autocorrelation[tau];
        s.difference[tau] = std::max(0.0, d);
    }

    std::vector<double>& dn = s.normalised;
    dn[0] = 1.0;
    double running = 0.0;
    for (std::size_t tau = 1; tau <= maxLag; ++tau) {
        running += s.difference[tau];
        dn[tau] = running > 0.0 ? s.difference[tau] * static_cast<double>(tau) / running : 1.0;
    }

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
