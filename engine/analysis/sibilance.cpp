#include "engine/analysis/sibilance.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace np {
namespace {

struct HopFeatures {
    double lowEnergy = 0.0;
    double highEnergy = 0.0;
    double energy = 0.0;
    std::int32_t zeroCrossings = 0;
    std::int32_t samples = 0;
};

bool ask(const std::function<bool()>& keepGoing) {
    return !keepGoing || keepGoing();
}

// Runs the two one-pole low-pass stages over the audio and sums each hop's band energies and
// zero crossings. The filter state carries across hops so that hop edges add no transients.
bool accumulate(const float* mono, std::int64_t samples, double sampleRate, std::int64_t hop,
                const SibilanceConfig& config, const std::function<bool()>& keepGoing,
                std::vector<HopFeatures>& hops) {
    const double a = std::exp(-2.0 * std::numbers::pi * config.splitHz / sampleRate);
    const double b = 1.0 - a;
    double lp1 = 0.0;
    double lp2 = 0.0;
    bool previousNegative = false; // the sample before the first counts as 0
    // Hop by hop, with the sums kept in registers: the same additions in the same order as summing
    // sample by sample into the hop's record.
    const auto hopCount = static_cast<std::int64_t>(hops.size());
    for (std::int64_t h = 0; h < hopCount && h * hop < samples; ++h) {
        const std::int64_t end = std::min(samples, (h + 1) * hop);
        double lowEnergy = 0.0;
        double highEnergy = 0.0;
        double energy = 0.0;
        std::int32_t zeroCrossings = 0;
        for (std::int64_t i = h * hop; i < end; ++i) {
            if (i % 4096 == 0 && !ask(keepGoing))
                return false;
            const double x = mono[i];
            lp1 = b * x + a * lp1;
            lp2 = b * lp1 + a * lp2;
            const double high = x - lp2;
            lowEnergy += lp2 * lp2;
            highEnergy += high * high;
            energy += x * x;
            const bool negative = x < 0.0;
            zeroCrossings += negative != previousNegative ? 1 : 0;
            previousNegative = negative;
        }
        HopFeatures& features = hops[static_cast<std::size_t>(h)];
        features.lowEnergy = lowEnergy;
        features.highEnergy = highEnergy;
        features.energy = energy;
        features.zeroCrossings = zeroCrossings;
        features.samples = static_cast<std::int32_t>(end - h * hop);
    }
    // A single pass over the samples also asked about the first sample past the last hop.
    const std::int64_t past = hopCount * hop;
    if (past < samples && past % 4096 == 0 && !ask(keepGoing))
        return false;
    return true;
}

} // namespace

bool classifySibilance(const float* mono, std::int64_t samples, double sampleRate, PitchTrack& track,
                       const SibilanceConfig& config, const std::function<bool()>& keepGoing) {
    if (!(sampleRate > 0.0) || mono == nullptr || samples <= 0 || track.hop == 0 || track.frames.empty())
        return true;
    if (!ask(keepGoing))
        return false;
    const auto count = static_cast<std::int64_t>(track.frames.size());
    for (std::int64_t f = 0; f < count; ++f) {
        if (f % 256 == 0 && !ask(keepGoing))
            return false;
        track.frames[static_cast<std::size_t>(f)].flags &= static_cast<std::uint8_t>(~PitchFrame::kSibilant);
    }

    const std::int64_t hop = track.hop;
    std::vector<HopFeatures> hops(static_cast<std::size_t>(count));
    if (!accumulate(mono, samples, sampleRate, hop, config, keepGoing, hops))
        return false;

    const double hopSeconds = static_cast<double>(hop) / sampleRate;
    const double silence = std::pow(10.0, config.silenceDb / 20.0);
    std::vector<char> qualifies(static_cast<std::size_t>(count), 0);
    for (std::int64_t h = 0; h < count; ++h) {
        if (h % 256 == 0 && !ask(keepGoing))
            return false;
        const HopFeatures& features = hops[static_cast<std::size_t>(h)];
        const PitchFrame& frame = track.frames[static_cast<std::size_t>(h)];
        if (features.samples == 0)
            continue;
        const bool loud = std::sqrt(features.energy / features.samples) >= silence;
        const bool unsure = !frame.voiced || frame.confidence < config.maxVoicedConfidence;
        const bool bright = features.highEnergy / (features.lowEnergy + 1e-12) > config.minHighToLowRatio;
        const bool noisy = features.zeroCrossings / hopSeconds > config.minZeroCrossingsPerSecond;
        qualifies[static_cast<std::size_t>(h)] = loud && unsure && bright && noisy;
    }

    const auto bridgeHops = static_cast<std::int64_t>(std::max(0.0, config.bridgeSeconds / hopSeconds));
    if (bridgeHops > 0) {
        std::int64_t lastQualifying = -1;
        for (std::int64_t h = 0; h < count; ++h) {
            if (h % 256 == 0 && !ask(keepGoing))
                return false;
            if (!qualifies[static_cast<std::size_t>(h)])
                continue;
            const std::int64_t gap = h - lastQualifying - 1;
            if (lastQualifying >= 0 && gap > 0 && gap <= bridgeHops)
                std::fill(qualifies.begin() + lastQualifying + 1, qualifies.begin() + h, 1);
            lastQualifying = h;
        }
    }

    const auto minRunHops =
        std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(config.minRunSeconds / hopSeconds)));
    std::int64_t runStart = -1;
    for (std::int64_t h = 0; h <= count; ++h) {
        if (h < count && h % 256 == 0 && !ask(keepGoing))
            return false;
        const bool inRun = h < count && qualifies[static_cast<std::size_t>(h)];
        if (inRun && runStart < 0)
            runStart = h;
        if (!inRun && runStart >= 0) {
            if (h - runStart >= minRunHops)
                for (std::int64_t m = runStart; m < h; ++m)
                    track.frames[static_cast<std::size_t>(m)].flags |= PitchFrame::kSibilant;
            runStart = -1;
        }
    }
    return ask(keepGoing);
}

} // namespace np
