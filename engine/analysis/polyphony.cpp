#include "engine/analysis/polyphony.h"

#include "engine/analysis/analysis_threads.h"
#include "engine/analysis/pyin.h"
#include "engine/analysis/yin.h"

#include <cmath>
#include <memory>
#include <vector>

namespace np {
namespace {

constexpr double kYinThreshold = 0.62;
constexpr double kMinWindowRms = 0.001;
constexpr double kHarmonicTolerance = 0.04;
constexpr std::int64_t kHopsPerWindow = 4;
// Windows per chunk: the 32 between two questions.
constexpr std::size_t kChunk = 32;

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
        const auto windows = static_cast<std::size_t>((samples - window) / stride + 1);
        // Each window's weight: its RMS, negated when it sounds polyphonic, 0 when it is too quiet. The
        // sums are formed afterwards in window order, so they do not depend on how the windows were
        // shared between threads (adding 0 changes no sum).
        std::vector<double> weights(windows, 0.0);
        struct Worker {
            std::unique_ptr<YinFrameAnalyzer> yin;
            std::vector<YinCandidate> candidates;
        };
        const std::size_t chunks = (windows + kChunk - 1) / kChunk;
        const PYinDecoderMemoryPlan plan = planPYinDecoderMemory(samples, sampleRate, pyin);
        const int threads = detail::stageThreads(chunks, pitchTrackerAllowanceBytes(plan, pyin),
                                                 YinFrameAnalyzer::workingBytes(static_cast<int>(window)));
        std::vector<Worker> workers(static_cast<std::size_t>(threads));
        const auto work = [&](std::size_t chunk, int worker) {
            Worker& w = workers[static_cast<std::size_t>(worker)];
            if (!w.yin)
                w.yin = std::make_unique<YinFrameAnalyzer>(static_cast<int>(window), sampleRate, pyin.minHz,
                                                           pyin.maxHz);
            for (std::size_t v = chunk * kChunk; v < std::min(windows, (chunk + 1) * kChunk); ++v) {
                const float* frame = mono + static_cast<std::int64_t>(v) * stride;
                const double rms = std::sqrt(w.yin->load(frame) / static_cast<double>(window));
                if (rms < kMinWindowRms)
                    continue;
                w.yin->analyzeLoaded(w.candidates, kYinThreshold);
                weights[v] = offSeriesCount(w.candidates) >= 2 ? -rms : rms;
            }
        };
        // The question before every 32nd window: one per chunk.
        detail::ChunkedStage stage(chunks, threads);
        if (!stage.run(work, [&](std::size_t) { return ask(keepGoing); }))
            return std::nullopt;
        for (const double weight : weights) {
            total += std::abs(weight);
            if (std::signbit(weight))
                voiced += -weight;
        }
    }
    if (!ask(keepGoing))
        return std::nullopt;
    return total > 0.0 ? static_cast<float>(voiced / total) : 0.0f;
}

} // namespace np
