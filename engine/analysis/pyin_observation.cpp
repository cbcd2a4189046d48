#include "engine/analysis/pyin_observation.h"

#include <algorithm>
#include <cmath>

namespace np {
namespace {

constexpr int kTableSteps = 256;

// Cumulative distribution of Beta(2, 18) at i / 256 by the trapezoid rule over the unnormalised
// density x (1 - x)^17, then scaled so that the last entry is exactly 1.
std::array<double, kTableSteps + 1> makeBetaTable() noexcept {
    std::array<double, kTableSteps + 1> pdf{};
    for (int i = 0; i < kTableSteps; ++i) {
        const double x = static_cast<double>(i) / kTableSteps;
        pdf[static_cast<std::size_t>(i)] = x * std::pow(1.0 - x, 17);
    }
    pdf[kTableSteps] = 0.0;
    std::array<double, kTableSteps + 1> cdf{};
    cdf[0] = 0.0;
    for (std::size_t i = 1; i <= kTableSteps; ++i)
        cdf[i] = cdf[i - 1] + (pdf[i - 1] + pdf[i]) / 2.0;
    const double total = cdf[kTableSteps];
    for (double& v : cdf)
        v /= total;
    return cdf;
}

} // namespace

double PYinPitchGrid::centreMidi(std::uint32_t bin) const noexcept {
    return midiMin + (static_cast<double>(bin) + 0.5) * binCents / 100.0;
}

double PYinPitchGrid::centreHz(std::uint32_t bin) const noexcept {
    return 440.0 * std::exp2((centreMidi(bin) - 69.0) / 12.0);
}

double midiFromHz(double hz) noexcept {
    return 69.0 + 12.0 * std::log2(hz / 440.0);
}

double thresholdPrior(double value) noexcept {
    static const std::array<double, kTableSteps + 1> cdf = makeBetaTable();
    // Written so that NaN also lands on 0.
    const double clamped = value > 0.0 ? std::min(1.0, value) : 0.0;
    const double pos = kTableSteps * clamped;
    const int i = std::min(static_cast<int>(pos), kTableSteps - 1);
    const double f = pos - i;
    return cdf[static_cast<std::size_t>(i)] * (1.0 - f) + cdf[static_cast<std::size_t>(i) + 1] * f;
}

FrameObs observeCandidates(std::span<const YinCandidate> candidates, const PYinPitchGrid& grid) noexcept {
    FrameObs obs;
    double total = 0.0;
    double lowest = 1.0; // the smallest value seen so far: thresholds above it picked an earlier candidate
    for (const YinCandidate& c : candidates) {
        const double p = std::max(0.0, thresholdPrior(lowest) - thresholdPrior(c.value));
        const double midi = midiFromHz(c.hz);
        if (p > 0.0 && midi >= grid.midiMin && midi < grid.midiMax) {
            obs.bestConfidence = std::max(obs.bestConfidence, 1.0 - c.value);
            const double position = std::trunc((midi - grid.midiMin) * 100.0 / grid.binCents);
            const double top = static_cast<double>(grid.bins - 1);
            const auto bin = static_cast<std::uint32_t>(std::clamp(position, 0.0, top));
            total += p;
            if (obs.candidateCount < kPYinMaxCandidates) {
                obs.candidates[obs.candidateCount++] = {bin, p};
            } else {
                // Replace the least probable entry (the first of equals) when this one is more probable.
                auto weakest = std::min_element(
                    obs.candidates.begin(), obs.candidates.end(),
                    [](const PYinBinMass& a, const PYinBinMass& b) { return a.probability < b.probability; });
                if (p > weakest->probability)
                    *weakest = {bin, p};
            }
        }
        lowest = std::min(lowest, c.value);
    }
    obs.voicedMass = std::min(total, 0.99);
    double kept = 0.0;
    for (const PYinBinMass& m : obs.kept())
        kept += m.probability;
    if (obs.candidateCount > 0 && kept > 0.0) {
        const double scale = std::min(1.0, total) / kept;
        for (std::uint32_t i = 0; i < obs.candidateCount; ++i)
            obs.candidates[i].probability *= scale;
    }
    return obs;
}

} // namespace np
