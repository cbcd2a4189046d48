#include "engine/analysis/onsets.h"

#include "engine/audio/real_fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
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

// One flux value per frame; frame 0 is forced to 0 because it has no predecessor to rise from.
bool noveltyCurve(const float* mono, std::int64_t frames, std::int64_t hop, std::int64_t frame,
                  const std::function<bool()>& keepGoing, std::vector<double>& novelty) {
    const auto size = static_cast<std::size_t>(frame);
    std::vector<double> window(size);
    for (std::size_t i = 0; i < size; ++i)
        window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                         static_cast<double>(frame));
    RealFft fft(size);
    std::vector<double> input(size);
    std::vector<std::complex<double>> spectrum(fft.bins());
    // DC and Nyquist carry no onset information; the range is clipped to the bins that exist.
    const std::size_t lastBin = std::min<std::size_t>(std::max<std::size_t>(size / 2, 2), fft.bins());
    std::vector<double> previous(lastBin, 0.0);

    novelty.assign(static_cast<std::size_t>(frames), 0.0);
    for (std::int64_t f = 0; f < frames; ++f) {
        if (f % 16 == 0 && !ask(keepGoing))
            return false;
        const float* start = mono + f * hop;
        for (std::size_t i = 0; i < size; ++i)
            input[i] = static_cast<double>(start[i]) * window[i];
        fft.forward(input, spectrum);
        double flux = 0.0;
        for (std::size_t k = 1; k < lastBin; ++k) {
            const double level = std::log1p(20.0 * std::hypot(spectrum[k].real(), spectrum[k].imag()));
            flux += std::max(0.0, level - previous[k]);
            previous[k] = level;
        }
        novelty[static_cast<std::size_t>(f)] = flux;
    }
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
