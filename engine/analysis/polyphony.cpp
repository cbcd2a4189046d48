#include "engine/analysis/polyphony.h"

#include "engine/analysis/yin.h"

#include <cmath>
#include <vector>

namespace np {
namespace {

constexpr double kYinThreshold = 0.62;
constexpr double kMinWindowRms = 0.001;
constexpr double kHarmonicTolerance = 0.04;
constexpr std::int64_t kHopsPerWindow = 4;

bool ask(const std::function<bool()>& keepGoing) {
    return !keepGoing || keepGoing();
}

// Candidates that are not near-harmonic submultiples (top/n within 4 % of n) of the highest one.
int offSeriesCount(const std::vector<YinCandidate>& candidates) {
    double top = 0.0;
    for (const YinCandidate& c : candidates)
        top = std::max(top, c.hz);
    if (!(top > 0.0))
        return 0;
    int count = 0;
    for (const YinCandidate& c : candidates) {
        if (!(c.hz > 0.0))
            continue;
        const double ratio = top / c.hz;
        const double n = std::max(1.0, std::round(ratio));
        if (std::abs(ratio - n) > kHarmonicTolerance * n)
            ++count;
    }
    return count;
}

} // namespace

std::optional<float> polyphonyScore(const float* mono, std::int64_t samples, double sampleRate,
                                    const PYinConfig& pyin, const std::function<bool()>& keepGoing) {
    const std::int64_t window = pyin.frame;
    const std::int64_t stride = static_cast<std::int64_t>(pyin.hop) * kHopsPerWindow;
    double total = 0.0;
    double voiced = 0.0;
    if (mono != nullptr && window > 0 && samples >= window && pyin.hop > 0) {
        YinFrameAnalyzer yin(static_cast<int>(window), sampleRate, pyin.minHz, pyin.maxHz);
        std::vector<YinCandidate> candidates;
        std::int64_t visited = 0;
        for (std::int64_t start = 0; start + window <= samples; start += stride, ++visited) {
            if (visited % 32 == 0 && !ask(keepGoing))
                return std::nullopt;
            const float* frame = mono + start;
            double sum = 0.0;
            for (std::int64_t i = 0; i < window; ++i)
                sum += static_cast<double>(frame[i]) * static_cast<double>(frame[i]);
            const double rms = std::sqrt(sum / static_cast<double>(window));
            if (rms < kMinWindowRms)
                continue;
            yin.analyze(frame, candidates, kYinThreshold);
            total += rms;
            if (offSeriesCount(candidates) >= 2)
                voiced += rms;
        }
    }
    if (!ask(keepGoing))
        return std::nullopt;
    return total > 0.0 ? static_cast<float>(voiced / total) : 0.0f;
}

} // namespace np
