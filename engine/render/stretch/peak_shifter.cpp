#include "engine/render/stretch/peak_shifter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace np {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Peaks this far below the frame's strongest (-100 dB) join their neighbours' regions.
constexpr float kPeakFloor = 1e-10f; // in power
// A previous output below this fraction of the peak (-60 dB) counts as silence: the peak starts anew.
constexpr float kSilentRatio = 1e-6f; // in power
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

// The source spectrum at output bin k of a region, at k - shift - fraction, linearly interpolated, and
// turned by the region's rotation. Written out in float arithmetic, the same operations as
// std::complex<float>'s, because the compiler passes its temporaries through the stack in a way that
// stalls every bin on a store.
PeakShifter::Bin PeakShifter::moved(Spectrum in, std::size_t k, const Region& region) const noexcept {
    const std::size_t base = source(k, region.shift);
    const float f = region.fraction;
    const float* x = reinterpret_cast<const float*>(in.data()) + 2 * base;
    float re = x[0], im = x[1];
    if (f > 0.0f && base > 0) {
        const float keep = 1.0f - f;
        re = keep * x[0] + f * x[-2];
        im = keep * x[1] + f * x[-1];
    } else if (f < 0.0f && base + 1 < in.size()) {
        const float keep = 1.0f + f;
        re = keep * x[0] - f * x[2];
        im = keep * x[1] - f * x[3];
    }
    const float rr = region.rotation.real(), ri = region.rotation.imag();
    Bin out{re * rr - im * ri, re * ri + im * rr};
    if (std::isnan(out.re) && std::isnan(out.im)) {
        // Infinities: std::complex's product recovers them as C's Annex G requires.
        const std::complex<float> product = std::complex<float>(re, im) * region.rotation;
        out = {product.real(), product.imag()};
    }
    return out;
}

void PeakShifter::configure(int bins, int fftSize, int intervalSamples) {
    const auto n = static_cast<std::size_t>(bins);
    const std::size_t peaks = n / 3 + 1;
    power_.assign(n, 0.0f);
    owner_.assign(n, -1);
    strength_.assign(n, 0.0f);
    frequency_.assign(n, 0.0f);
    peaks_.assign(peaks, 0);
    regions_.assign(peaks, Region{});
    prevOutput_.assign(n, {});
    prevFrequency_.assign(n, 0.0f);
    prevTurn_.assign(n, 0.0f);
    prevReference_.assign(n, {});
    bins_ = bins;
    fftSize_ = fftSize;
    advancePerBin_ = kTwoPi * intervalSamples / fftSize;
    reset();
}

void PeakShifter::reset() noexcept {
    std::fill(prevOutput_.begin(), prevOutput_.end(), std::complex<float>());
    std::fill(prevFrequency_.begin(), prevFrequency_.end(), 0.0f);
    std::fill(prevTurn_.begin(), prevTurn_.end(), 0.0f);
    std::fill(owner_.begin(), owner_.end(), -1);
    silent_ = true;
    prevRelocked_ = true;
    prevAnalysed_ = false;
}

void PeakShifter::findPeaks() noexcept {
    const float strongest = *std::max_element(power_.begin(), power_.end());
    const float floor = strongest * kPeakFloor;
    int count = 0;
    for (int k = 0; k < bins_; ++k) {
        const float m = power_[static_cast<std::size_t>(k)];
        if (m <= floor)
            continue;
        bool peak = true;
        // Strictly above the left neighbours and at least the right ones: a plateau gives one peak.
        for (int d = 1; d <= 2 && peak; ++d) {
            if (k - d >= 0 && !(m > power_[static_cast<std::size_t>(k - d)]))
                peak = false;
            if (k + d < bins_ && m < power_[static_cast<std::size_t>(k + d)])
                peak = false;
        }
        if (peak) {
            peaks_[static_cast<std::size_t>(count++)] = k;
            k += 2; // the next two bins lie below this peak
        }
    }
    peakCount_ = count;
}

void PeakShifter::plan(Spectrum reference, std::span<const std::complex<double>> derivative, double factor,
                       std::int64_t analysisHop, bool relock) noexcept {
    const auto bins = static_cast<std::size_t>(bins_);
    for (std::size_t k = 0; k < bins; ++k)
        power_[k] = std::norm(reference[k]);
    std::fill(owner_.begin(), owner_.end(), -1);
    std::fill(strength_.begin(), strength_.end(), 0.0f);
    findPeaks();
    silent_ = peakCount_ == 0;

    int regionStart = 0;
    for (int i = 0; i < peakCount_; ++i) {
        const int peak = peaks_[static_cast<std::size_t>(i)];
        const auto p = static_cast<std::size_t>(peak);
        // The region ends at the lowest bin between this peak and the next (the last runs to the end).
        int regionEnd = bins_ - 1;
        if (i + 1 < peakCount_) {
            const int next = peaks_[static_cast<std::size_t>(i + 1)];
            regionEnd = peak;
            for (int k = peak + 1; k < next; ++k)
                if (power_[static_cast<std::size_t>(k)] < power_[static_cast<std::size_t>(regionEnd)])
                    regionEnd = k;
        }

        // Reassigned frequency of the peak in bins: k - Im(Xd / X) N / 2 pi.
        const std::complex<double> x(reference[p]);
        const double offset = -(derivative[p] / x).imag() * fftSize_ / kTwoPi;
        const double analysed = peak + std::clamp(offset, -2.0, 2.0);
        const double target = analysed * factor;
        // The mean frequency since the previous analysis frame, from the phase advance of the peak bin
        // unwrapped around the reassigned frequency: exact for any frequency course between the frames,
        // where the reassigned frequency is the one at the frame's centre.
        const bool measured = prevAnalysed_ && analysisHop > 0;
        double mean = analysed;
        if (measured) {
            const double hop = static_cast<double>(analysisHop);
            const double expected = kTwoPi * analysed * hop / fftSize_;
            const double turned = std::arg(reference[p] * std::conj(prevReference_[p]));
            const double advance = expected + wrapPhase(turned - expected);
            mean = advance * fftSize_ / (kTwoPi * hop);
        }
        const int shift = static_cast<int>(std::lround(target - analysed));
        const int landing = peak + shift;

        Region& region = regions_[static_cast<std::size_t>(i)];
        region.shift = shift;
        region.fraction = static_cast<float>((target - analysed) - shift);
        if (landing >= 0 && landing < bins_) {
            const auto t = static_cast<std::size_t>(landing);
            double turn = 0.0; // a peak arriving in silence keeps its analysis phase
            const bool sounding = std::norm(prevOutput_[t]) > kSilentRatio * power_[p];
            if (sounding && relock && prevRelocked_) {
                // Unshifted frames in a row: the previous rotation of the same bins decays towards zero,
                // so the output slides back onto the source and then copies it exactly.
                turn = kRelockDecay * prevTurn_[t];
                if (std::abs(turn) < kRelockSnap)
                    turn = 0.0;
            } else if (sounding) {
                // The output advances at the mean source frequency times the mean factor; without a
                // measured mean (no input since the last frame), at the mean of the previous output
                // frequency of this bin and the new one.
                double advance = mean * 0.5 * (prevFactor_ + factor);
                if (!measured) {
                    const bool continues =
                        std::abs(prevFrequency_[t] - target) <= kFrequencyMatch * target + 1.0;
                    advance = 0.5 * ((continues ? prevFrequency_[t] : target) + target);
                }
                const double phase = std::arg(prevOutput_[t]) + advancePerBin_ * advance;
                turn = wrapPhase(phase - std::arg(x));
                if (relock)
                    turn *= kRelockDecay;
            }
            region.turn = static_cast<float>(turn);
            region.rotation = std::polar(1.0f, region.turn);
            // Where moved regions overlap, the stronger source bin wins.
            const int lo = std::max(regionStart, -shift);
            const int hi = std::min(regionEnd, bins_ - 1 - shift);
            for (int k = lo; k <= hi; ++k) {
                const auto out = static_cast<std::size_t>(k + shift);
                const float m = power_[static_cast<std::size_t>(k)];
                if (m > strength_[out]) {
                    strength_[out] = m;
                    owner_[out] = i;
                    frequency_[out] = static_cast<float>(target);
                }
            }
        }
        regionStart = regionEnd + 1;
    }

    // The output of this frame becomes the previous frame of the next.
    for (std::size_t k = 0; k < bins; ++k) {
        const int r = owner_[k];
        if (r < 0) {
            prevOutput_[k] = 0.0f;
            prevTurn_[k] = 0.0f;
            continue;
        }
        const Region& region = regions_[static_cast<std::size_t>(r)];
        const Bin bin = moved(reference, k, region);
        prevOutput_[k] = {bin.re, bin.im};
        prevFrequency_[k] = frequency_[k];
        prevTurn_[k] = region.turn;
    }
    prevRelocked_ = relock;
    std::copy(reference.begin(), reference.end(), prevReference_.begin());
    prevAnalysed_ = true;
    prevFactor_ = factor;
}

void PeakShifter::apply(Spectrum in, std::span<std::complex<double>> out) const noexcept {
    const auto bins = static_cast<std::size_t>(bins_);
    for (std::size_t k = 0; k < bins; ++k) {
        const int r = owner_[k];
        if (r < 0) {
            out[k] = 0.0;
            continue;
        }
        const Bin bin = moved(in, k, regions_[static_cast<std::size_t>(r)]);
        out[k] = {bin.re, bin.im};
    }
}

} // namespace np
