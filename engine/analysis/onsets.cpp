#include "engine/analysis/onsets.h"

#include "engine/analysis/analysis_threads.h"
#include "engine/audio/real_fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>

namespace np {

namespace detail {

double upperMedian(std::vector<double>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

} // namespace detail

namespace {

bool ask(const std::function<bool()>& keepGoing) {
    return !keepGoing || keepGoing();
}

// Root mean square of mono[begin, end); 0 for an empty range.
double rmsOf(const float* mono, std::int64_t begin, std::int64_t end) {
    if (end <= begin)
        return 0.0;
    double sum = 0.0;
    for (std::int64_t i = begin; i < end; ++i)
        sum += static_cast<double>(mono[i]) * static_cast<double>(mono[i]);
    return std::sqrt(sum / static_cast<double>(end - begin));
}

// Frames per chunk of the novelty curve; a multiple of the 16 frames between two questions.
constexpr std::int64_t kNoveltyChunk = 64;

// One thread's transform and the log magnitudes of the frame before.
struct NoveltyWorker {
    std::unique_ptr<RealFft> fft;
    std::vector<double> previous;
};

// Log magnitudes of the bins 1..lastBin-1 of the frame at start, compared with and then stored into
// previous; returns the rise over all bins (the flux) when rise is set.
double logMagnitudes(const float* start, const std::vector<double>& window, NoveltyWorker& w,
                     std::size_t lastBin, bool rise) {
    double* input = w.fft->timeBuffer().data();
    const std::size_t size = window.size();
    for (std::size_t i = 0; i < size; ++i)
        input[i] = static_cast<double>(start[i]) * window[i];
    w.fft->forwardInPlace();
    const std::complex<double>* spectrum = w.fft->spectrumBuffer().data();
    double* previous = w.previous.data();
    double flux = 0.0;
    for (std::size_t k = 1; k < lastBin; ++k) {
        const double level = std::log1p(20.0 * std::hypot(spectrum[k].real(), spectrum[k].imag()));
        if (rise)
            flux += std::max(0.0, level - previous[k]);
        previous[k] = level;
    }
    return flux;
}

// One flux value per frame; frame 0 is forced to 0 because it has no predecessor to rise from. Each
// frame's flux compares it with the frame before, so a chunk first measures the frame before its own
// (the same transform, so the same values as one pass over all frames would give). The chunks are
// shared between threads within the fixed allowance of 128 bytes per window sample.
bool noveltyCurve(const float* mono, std::int64_t frames, std::int64_t hop, std::int64_t frame,
                  const std::function<bool()>& keepGoing, std::vector<double>& novelty) {
    const auto size = static_cast<std::size_t>(frame);
    std::vector<double> window(size);
    for (std::size_t i = 0; i < size; ++i)
        window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                         static_cast<double>(frame));
    // DC and Nyquist carry no onset information; the range is clipped to the bins that exist.
    const std::size_t lastBin = std::min<std::size_t>(std::max<std::size_t>(size / 2, 2), size / 2 + 1);
    novelty.assign(static_cast<std::size_t>(frames), 0.0);

    const auto chunks = static_cast<std::size_t>((frames + kNoveltyChunk - 1) / kNoveltyChunk);
    // Per thread: the transform's buffers and plans (about 24 bytes per sample) and the magnitudes.
    const std::uint64_t perThread = static_cast<std::uint64_t>(frame) * 32;
    const std::uint64_t allowance = static_cast<std::uint64_t>(frame) * 128 - size * sizeof(double);
    const int threads = detail::stageThreads(chunks, allowance, perThread);
    std::vector<NoveltyWorker> workers(static_cast<std::size_t>(threads));
    const auto work = [&](std::size_t chunk, int worker) {
        NoveltyWorker& w = workers[static_cast<std::size_t>(worker)];
        if (!w.fft) {
            w.fft = std::make_unique<RealFft>(size);
            w.previous.resize(lastBin);
        }
        const auto first = static_cast<std::int64_t>(chunk) * kNoveltyChunk;
        const std::int64_t end = std::min(frames, first + kNoveltyChunk);
        if (first == 0)
            std::fill(w.previous.begin(), w.previous.end(), 0.0);
        else
            logMagnitudes(mono + (first - 1) * hop, window, w, lastBin, false);
        for (std::int64_t f = first; f < end; ++f)
            novelty[static_cast<std::size_t>(f)] = logMagnitudes(mono + f * hop, window, w, lastBin, true);
    };
    // The questions come before every 16th frame, those of a chunk once it is done.
    const auto report = [&](std::size_t chunk) {
        const auto first = static_cast<std::int64_t>(chunk) * kNoveltyChunk;
        for (std::int64_t f = first; f < std::min(frames, first + kNoveltyChunk); f += 16)
            if (!ask(keepGoing))
                return false;
        return true;
    };
    detail::ChunkedStage stage(chunks, threads);
    if (!stage.run(work, report))
        return false;
    if (!novelty.empty())
        novelty[0] = 0.0;
    return true;
}

} // namespace

std::vector<std::int64_t> detectOnsets(const float* mono, std::int64_t samples, double sampleRate,
                                       const OnsetConfig& config, const std::function<bool()>& keepGoing) {
    if (!ask(keepGoing))
        return {};
    const std::int64_t hop = config.hop;
    const std::int64_t frame = config.frame;
    if (mono == nullptr || hop <= 0 || frame <= 0 || samples < frame || !(sampleRate > 0.0))
        return {};
    const std::int64_t frames = (samples - frame) / hop + 1;

    std::vector<double> novelty;
    if (!noveltyCurve(mono, frames, hop, frame, keepGoing, novelty))
        return {};

    const double hopSeconds = static_cast<double>(hop) / sampleRate;
    const std::int64_t halfWindow =
        std::max<std::int64_t>(1, static_cast<std::int64_t>(config.medianWindowSeconds / hopSeconds * 0.5));
    const double delta = std::max(1e-6, 0.02 * *std::max_element(novelty.begin(), novelty.end()));
    const auto minGapFrames = static_cast<std::int64_t>(
        std::max(1.0, config.minGapSeconds * sampleRate / static_cast<double>(hop)));
    const auto reach = static_cast<std::int64_t>(0.02 * sampleRate);

    std::vector<std::int64_t> onsets;
    if (frames < 3)
        return ask(keepGoing) ? onsets : std::vector<std::int64_t>{};

    std::vector<double> neighbourhood;
    neighbourhood.reserve(static_cast<std::size_t>(2 * halfWindow + 1));
    std::int64_t lastAccepted = -1;
    for (std::int64_t f = 1; f <= frames - 2; ++f) {
        if (f % 128 == 0 && !ask(keepGoing))
            return {};
        const double value = novelty[static_cast<std::size_t>(f)];
        if (novelty[static_cast<std::size_t>(f - 1)] > value ||
            novelty[static_cast<std::size_t>(f + 1)] > value)
            continue;
        const std::int64_t lo = std::max<std::int64_t>(0, f - halfWindow);
        const std::int64_t hi = std::min(f + halfWindow, frames - 1);
        neighbourhood.assign(novelty.begin() + lo, novelty.begin() + hi + 1);
        const double threshold = detail::upperMedian(neighbourhood) * config.thresholdRatio + delta;
        if (threshold > value)
            continue;
        if (lastAccepted >= 0 && f - lastAccepted < minGapFrames)
            continue;
        const std::int64_t position = f * hop;
        const std::int64_t preBegin = std::max<std::int64_t>(0, position - reach);
        const double pre = rmsOf(mono, preBegin, position);
        const double post = rmsOf(mono, position + reach, std::min(position + 2 * reach, samples));
        const double needed = position > preBegin ? 1.3 * pre + 1e-6 : 1e-6;
        if (post < needed)
            continue;
        onsets.push_back(position);
        lastAccepted = f;
    }
    if (!ask(keepGoing))
        return {};
    return onsets;
}

} // namespace np
