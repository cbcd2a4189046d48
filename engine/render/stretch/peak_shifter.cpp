#include "engine/render/stretch/peak_shifter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace np {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Peaks this far below the frame's strongest (-100 dB) join their neighbours' regions.
constexpr double kPeakFloor = 1e-5;
// A previous output below this fraction of the peak (-60 dB) counts as silence: the peak starts anew.
constexpr double kSilentRatio = 1e-3;
// The previous frequency of a bin is used only while it lies this close to the new one.
constexpr double kFrequencyMatch = 0.03;
// Share of the rotation kept per frame while relocking onto the source, and the rotation below which
// the source's own phase is taken (-60 dB of difference).
constexpr double kRelockDecay = 0.8;
constexpr double kRelockSnap = 1e-3;

double wrapPhase(double phase) noexcept {
    return phase - kTwoPi * std::nearbyint(phase / kTwoPi);
}

// The source bin of output bin k in a region moved by shift.
std::size_t source(std::size_t k, int shift) noexcept {
    return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(k) - shift);
}

} // namespace

// The source spectrum at output bin k of a region: at k - shift - fraction, linearly interpolated.
std::complex<double> PeakShifter::interpolate(std::span<const std::complex<double>> in, std::size_t k,
                                              const Region& region) const noexcept {
    const std::size_t base = source(k, region.shift);
    const double f = region.fraction;
    if (f > 0.0 && base > 0)
        return (1.0 - f) * in[base] + f * in[base - 1];
    if (f < 0.0 && base + 1 < in.size())
        return (1.0 + f) * in[base] - f * in[base + 1];
    return in[base];
}

void PeakShifter::configure(int bins, int fftSize, int intervalSamples) {
    const auto n = static_cast<std::size_t>(bins);
    magnitude_.assign(n, 0.0);
    peaks_.assign(n, 0);
    regions_.assign(n, Region{});
    owner_.assign(n, -1);
    strength_.assign(n, 0.0);
    frequency_.assign(n, 0.0);
    prevPhase_.assign(n, 0.0);
    prevMagnitude_.assign(n, 0.0);
    prevFrequency_.assign(n, 0.0);
    prevTurn_.assign(n, 0.0);
    bins_ = bins;
    fftSize_ = fftSize;
    advancePerBin_ = kTwoPi * intervalSamples / fftSize;
    reset();
}

void PeakShifter::reset() noexcept {
    std::fill(prevMagnitude_.begin(), prevMagnitude_.end(), 0.0);
    std::fill(prevPhase_.begin(), prevPhase_.end(), 0.0);
    std::fill(prevFrequency_.begin(), prevFrequency_.end(), 0.0);
    std::fill(prevTurn_.begin(), prevTurn_.end(), 0.0);
    std::fill(owner_.begin(), owner_.end(), -1);
    silent_ = true;
    prevRelocked_ = true;
}

void PeakShifter::findPeaks() noexcept {
    const double strongest = *std::max_element(magnitude_.begin(), magnitude_.end());
    const double floor = strongest * kPeakFloor;
    int count = 0;
    for (int k = 0; k < bins_; ++k) {
        const double m = magnitude_[static_cast<std::size_t>(k)];
        if (m <= floor)
            continue;
        bool peak = true;
        // Strictly above the left neighbours and at least the right ones: a plateau gives one peak.
        for (int d = 1; d <= 2 && peak; ++d) {
            if (k - d >= 0 && !(m > magnitude_[static_cast<std::size_t>(k - d)]))
                peak = false;
            if (k + d < bins_ && m < magnitude_[static_cast<std::size_t>(k + d)])
                peak = false;
        }
        if (peak)
            peaks_[static_cast<std::size_t>(count++)] = k;
    }
    peakCount_ = count;
}

void PeakShifter::plan(std::span<const std::complex<double>> reference,
                       std::span<const std::complex<double>> derivative, double factor,
                       bool relock) noexcept {
    const auto bins = static_cast<std::size_t>(bins_);
    for (std::size_t k = 0; k < bins; ++k)
        magnitude_[k] = std::abs(reference[k]);
    std::fill(owner_.begin(), owner_.end(), -1);
    std::fill(strength_.begin(), strength_.end(), 0.0);
    findPeaks();
    silent_ = peakCount_ == 0;

    int regionStart = 0;
    for (int i = 0; i < peakCount_; ++i) {
        const int peak = peaks_[static_cast<std::size_t>(i)];
        // The region ends at the lowest bin between this peak and the next (the last runs to the end).
        int regionEnd = bins_ - 1;
        if (i + 1 < peakCount_) {
            const int next = peaks_[static_cast<std::size_t>(i + 1)];
            regionEnd = peak;
            for (int k = peak + 1; k < next; ++k)
                if (magnitude_[static_cast<std::size_t>(k)] < magnitude_[static_cast<std::size_t>(regionEnd)])
                    regionEnd = k;
        }

        // Reassigned frequency of the peak in bins: k - Im(Xd / X) N / 2 pi.
        const std::complex<double> x = reference[static_cast<std::size_t>(peak)];
        const double offset = -(derivative[static_cast<std::size_t>(peak)] / x).imag() * fftSize_ / kTwoPi;
        const double analysed = peak + std::clamp(offset, -2.0, 2.0);
        const double target = analysed * factor;
        const int shift = static_cast<int>(std::lround(target - analysed));
        const int landing = peak + shift;

        Region& region = regions_[static_cast<std::size_t>(i)];
        region.shift = shift;
        region.fraction = (target - analysed) - shift;
        if (landing >= 0 && landing < bins_) {
            const auto t = static_cast<std::size_t>(landing);
            double turn = 0.0; // a peak arriving in silence keeps its analysis phase
            const bool sounding = prevMagnitude_[t] > kSilentRatio * magnitude_[static_cast<std::size_t>(peak)];
            if (sounding && relock && prevRelocked_) {
                // Unshifted frames in a row: the previous rotation of the same bins decays towards zero,
                // so the output slides back onto the source and then copies it exactly.
                turn = kRelockDecay * prevTurn_[t];
                if (std::abs(turn) < kRelockSnap)
                    turn = 0.0;
            } else if (sounding) {
                const double previous = std::abs(prevFrequency_[t] - target) <= kFrequencyMatch * target + 1.0
                                            ? prevFrequency_[t]
                                            : target;
                const double phase = prevPhase_[t] + advancePerBin_ * 0.5 * (previous + target);
                turn = wrapPhase(phase - std::arg(x));
                if (relock)
                    turn *= kRelockDecay;
            }
            region.turn = std::polar(1.0, turn);
            // Where moved regions overlap, the stronger source bin wins.
            const int lo = std::max(regionStart, -shift);
            const int hi = std::min(regionEnd, bins_ - 1 - shift);
            for (int k = lo; k <= hi; ++k) {
                const auto out = static_cast<std::size_t>(k + shift);
                const double m = magnitude_[static_cast<std::size_t>(k)];
                if (m > strength_[out]) {
                    strength_[out] = m;
                    owner_[out] = i;
                    frequency_[out] = target;
                }
            }
        }
        regionStart = regionEnd + 1;
    }

    // The output of this frame becomes the previous frame of the next.
    for (std::size_t k = 0; k < bins; ++k) {
        const int r = owner_[k];
        if (r < 0) {
            prevMagnitude_[k] = 0.0;
            prevTurn_[k] = 0.0;
            continue;
        }
        const Region& region = regions_[static_cast<std::size_t>(r)];
        const std::complex<double> y = interpolate(reference, k, region) * region.turn;
        prevMagnitude_[k] = strength_[k];
        prevPhase_[k] = std::arg(y);
        prevFrequency_[k] = frequency_[k];
        prevTurn_[k] = std::arg(region.turn);
    }
    prevRelocked_ = relock;
}

void PeakShifter::apply(std::span<const std::complex<double>> in,
                        std::span<std::complex<double>> out) const noexcept {
    const auto bins = static_cast<std::size_t>(bins_);
    for (std::size_t k = 0; k < bins; ++k) {
        const int r = owner_[k];
        if (r < 0) {
            out[k] = 0.0;
            continue;
        }
        const Region& region = regions_[static_cast<std::size_t>(r)];
        out[k] = interpolate(in, k, region) * region.turn;
    }
}

} // namespace np
