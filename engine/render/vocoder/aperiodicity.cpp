#include "engine/render/vocoder/aperiodicity.h"

#include "engine/audio/real_fft.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <vector>

namespace np::vocoder {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kPeriods = 4;             // periods under the window: bins per harmonic
constexpr int kHarmonicSpan = 2;        // harmonics summed on either side of each one
constexpr double kTopHz = 0.48;         // highest harmonic, as a fraction of fs
constexpr double kSamplesMargin = 1.06; // a semitone of room for the F0 dipping inside the window
constexpr double kEmpty = 1e-30;        // a silent band counts as noise: no buzz from nothing

bool voiced(double f0) {
    return std::isfinite(f0) && f0 >= kF0FloorHz;
}

// The Lanczos kernel of three lobes, sinc(u) sinc(u / 3), tabulated for the six taps j = -2..3 at
// kPhases + 1 fractions d of a sample (tap j weighs the sample at d - j away), each row normalised to
// unit sum. Built once per process.
constexpr int kPhases = 1024;
using KernelTable = std::array<std::array<double, 6>, kPhases + 1>;

const KernelTable& lanczosTable() {
    static const KernelTable table = [] {
        KernelTable t{};
        for (int p = 0; p <= kPhases; ++p) {
            const double d = static_cast<double>(p) / kPhases;
            double sum = 0.0;
            for (int j = -2; j <= 3; ++j) {
                const double u = d - j;
                const double w = std::abs(u) < 1e-12  ? 1.0
                                 : std::abs(u) >= 3.0 ? 0.0
                                                      : 3.0 * std::sin(kPi * u) * std::sin(kPi * u / 3.0) /
                                                            (kPi * kPi * u * u);
                t[static_cast<std::size_t>(p)][static_cast<std::size_t>(j + 2)] = w;
                sum += w;
            }
            for (double& w : t[static_cast<std::size_t>(p)])
                w /= sum;
        }
        return t;
    }();
    return table;
}

// x at a fractional sample position, through the tabulated kernel interpolated between its phases.
double lanczos(std::span<const double> x, double t) {
    const double floorT = std::floor(t);
    const auto i = static_cast<std::int64_t>(floorT);
    const double phase = (t - floorT) * kPhases;
    const auto p = std::min(static_cast<int>(phase), kPhases - 1);
    const double a = phase - p;
    const KernelTable& table = lanczosTable();
    const auto& lo = table[static_cast<std::size_t>(p)];
    const auto& hi = table[static_cast<std::size_t>(p + 1)];
    double sum = 0.0;
    for (int j = 0; j < 6; ++j)
        sum += ((1.0 - a) * lo[static_cast<std::size_t>(j)] + a * hi[static_cast<std::size_t>(j)]) *
               detail::sampleAt(x, i + j - 2);
    return sum;
}

class AperiodicityAnalyzer {
public:
    AperiodicityAnalyzer(std::span<const double> x, int sampleRate, std::span<const double> f0)
        : x_(x), sampleRate_(sampleRate), f0_(f0), period_(framePeriodSamples(sampleRate)),
          bins_(fftSizeForRate(sampleRate) / 2 + 1) {}

    void analyse(int frame, std::span<double> out) {
        const double f0 = f0_[static_cast<std::size_t>(frame)];
        if (!voiced(f0) || f0 >= kTopHz * sampleRate_) {
            std::fill(out.begin(), out.end(), 1.0);
            return;
        }
        const int perPeriod = static_cast<int>(
            std::bit_ceil(static_cast<unsigned>(std::ceil(kSamplesMargin * sampleRate_ / f0))));
        resample(frame * period_, f0, perPeriod);
        harmonicAperiodicity(f0, perPeriod);
        toBins(f0, out);
    }

private:
    // The F0 contour at a sample position: linear between voiced frames, the frame's own F0 where a
    // neighbour is unvoiced.
    double contour(double t, double own) const {
        const double u = std::max(0.0, t / period_);
        const auto last = f0_.size() - 1;
        const std::size_t j0 = std::min(static_cast<std::size_t>(u), last);
        const std::size_t j1 = std::min(j0 + 1, last);
        const double a = std::min(1.0, u - static_cast<double>(j0));
        const double lo = voiced(f0_[j0]) ? f0_[j0] : own;
        const double hi = voiced(f0_[j1]) ? f0_[j1] : own;
        return (1.0 - a) * lo + a * hi;
    }

    // warped_ = kPeriods periods around centre, perPeriod samples each, on a time axis along which the
    // phase of the F0 contour advances evenly; warped_[kPeriods / 2 x perPeriod] lies on the centre.
    void resample(double centre, double f0, int perPeriod) {
        const int length = kPeriods * perPeriod;
        const double reach = kPeriods / 2.0 + 1.0 / perPeriod;
        // Cycles accumulated from the centre, on whole samples either side of it.
        const auto walk = [&](int direction, std::vector<double>& cycles) {
            cycles.clear();
            double t = direction > 0 ? std::floor(centre) + 1.0 : std::ceil(centre) - 1.0;
            double previousT = centre, previousF = f0, phase = 0.0;
            while (phase < reach) {
                const double f = contour(t, f0);
                phase += 0.5 * (previousF + f) * std::abs(t - previousT) / sampleRate_;
                cycles.push_back(phase);
                previousT = t;
                previousF = f;
                t += direction;
            }
        };
        walk(+1, ahead_);
        walk(-1, behind_);
        warped_.resize(static_cast<std::size_t>(length));
        const int middle = length / 2;
        warped_[static_cast<std::size_t>(middle)] = lanczos(x_, centre);
        // Walk outward from the centre in both directions, so each search resumes where it stopped.
        const auto fill = [&](const std::vector<double>& cycles, int direction) {
            const double first = direction > 0 ? std::floor(centre) + 1.0 : std::ceil(centre) - 1.0;
            std::size_t i = 0;
            for (int step = 1; step <= middle; ++step) {
                const int m = middle + direction * step;
                if (m < 0 || m >= length)
                    break;
                const double target = static_cast<double>(step) / perPeriod;
                while (i + 1 < cycles.size() && cycles[i] < target)
                    ++i;
                // Invert the phase linearly between the whole samples (or the centre) that bracket it.
                const double before = i == 0 ? 0.0 : cycles[i - 1];
                const double from = i == 0 ? centre : first + direction * static_cast<double>(i - 1);
                const double to = first + direction * static_cast<double>(i);
                const double t = from + (to - from) * (target - before) / std::max(cycles[i] - before, 1e-12);
                warped_[static_cast<std::size_t>(m)] = lanczos(x_, t);
            }
        };
        fill(ahead_, +1);
        fill(behind_, -1);
    }

    RealFft& fftOfSize(int size) {
        const auto index = static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(size)));
        if (ffts_.size() <= index)
            ffts_.resize(index + 1);
        if (!ffts_[index])
            ffts_[index] = std::make_unique<RealFft>(static_cast<std::size_t>(size));
        return *ffts_[index];
    }

    void harmonicAperiodicity(double f0, int perPeriod) {
        const int length = kPeriods * perPeriod;
        for (int m = 0; m < length; ++m)
            warped_[static_cast<std::size_t>(m)] *= 0.5 - 0.5 * std::cos(2.0 * kPi * m / length);
        spectrum_.resize(static_cast<std::size_t>(length / 2 + 1));
        fftOfSize(length).forward(warped_, spectrum_);
        const auto energy = [&](int bin) { return std::norm(spectrum_[static_cast<std::size_t>(bin)]); };
        const int harmonics =
            std::min(static_cast<int>(kTopHz * sampleRate_ / f0), (length / 2 - 2) / kPeriods);
        peaks_.assign(static_cast<std::size_t>(harmonics), 0.0);
        valleys_.assign(static_cast<std::size_t>(harmonics), 0.0);
        for (int k = 1; k <= harmonics; ++k) {
            const int centre = kPeriods * k;
            peaks_[static_cast<std::size_t>(k - 1)] =
                energy(centre - 1) + energy(centre) + energy(centre + 1);
            valleys_[static_cast<std::size_t>(k - 1)] = 0.5 * (energy(centre - 2) + energy(centre + 2));
        }
        harmonic_.assign(static_cast<std::size_t>(harmonics), 1.0);
        for (int k = 0; k < harmonics; ++k) {
            double e = 0.0, v = 0.0;
            for (int j = std::max(0, k - kHarmonicSpan); j <= std::min(harmonics - 1, k + kHarmonicSpan);
                 ++j) {
                e += peaks_[static_cast<std::size_t>(j)];
                v += valleys_[static_cast<std::size_t>(j)];
            }
            harmonic_[static_cast<std::size_t>(k)] =
                std::clamp((kPeriods * v + kEmpty) / (e + v + kEmpty), 0.0, 1.0);
        }
    }

    void toBins(double f0, std::span<double> out) const {
        const auto harmonics = static_cast<int>(harmonic_.size());
        if (harmonics == 0) {
            std::fill(out.begin(), out.end(), 1.0);
            return;
        }
        const double hzPerBin = sampleRate_ / (2.0 * (bins_ - 1));
        for (int b = 0; b < bins_; ++b) {
            // Harmonic number h sits at harmonic_[h - 1].
            const double h = std::clamp(b * hzPerBin / f0, 1.0, static_cast<double>(harmonics));
            const int k = std::min(static_cast<int>(h), harmonics);
            const double a = h - k;
            const double lo = harmonic_[static_cast<std::size_t>(k - 1)];
            const double hi = harmonic_[static_cast<std::size_t>(std::min(k, harmonics - 1))];
            out[static_cast<std::size_t>(b)] = (1.0 - a) * lo + a * hi;
        }
    }

    std::span<const double> x_;
    double sampleRate_;
    std::span<const double> f0_;
    double period_;
    int bins_;
    std::vector<double> ahead_, behind_, warped_;
    std::vector<std::complex<double>> spectrum_;
    std::vector<double> peaks_, valleys_, harmonic_;
    std::vector<std::unique_ptr<RealFft>> ffts_; // by log2 of the size, made on first use
};

} // namespace

FrameSpectra estimateAperiodicity(std::span<const double> x, int sampleRate, std::span<const double> f0Hz) {
    detail::checkAnalysisInput(static_cast<std::int64_t>(x.size()), sampleRate, f0Hz.size());
    FrameSpectra aperiodicity;
    aperiodicity.fftSize = fftSizeForRate(sampleRate);
    aperiodicity.frames = static_cast<int>(f0Hz.size());
    aperiodicity.values.resize(f0Hz.size() * static_cast<std::size_t>(aperiodicity.bins()));
    AperiodicityAnalyzer analyzer(x, sampleRate, f0Hz);
    for (int i = 0; i < aperiodicity.frames; ++i)
        analyzer.analyse(i, aperiodicity.frame(i));
    return aperiodicity;
}

} // namespace np::vocoder
