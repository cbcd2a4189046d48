#include "engine/analysis/pyin_decoder.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace np {
namespace {

constexpr double kNegInf = -std::numeric_limits<double>::infinity();

double logOrNegInf(double p) noexcept {
    return p > 0.0 ? std::log(p) : kNegInf;
}

// Spread of a candidate's mass over its bin and the two neighbours, which absorbs binning error.
constexpr double kNeighbourShare = 0.2;
constexpr double kCentreShare = 0.6;
// Log-score penalty of the largest allowed move: the slope is this divided by (halfWidth + 1).
constexpr double kJumpPenalty = 1.59362;

} // namespace

PYinTransitionModel PYinTransitionModel::make(std::uint32_t bins, const PYinConfig& config) noexcept {
    PYinTransitionModel m;
    m.bins = bins;
    const double jump = std::trunc(config.maxJumpCents / config.binCents);
    const double top = static_cast<double>(bins > 1 ? bins - 1 : 1);
    m.halfWidth = jump < 1.0 ? 1u : static_cast<std::uint32_t>(std::min(jump, top));
    m.slope = kJumpPenalty / (static_cast<double>(m.halfWidth) + 1.0);
    m.logStayVoiced = logOrNegInf(1.0 - config.voicedToUnvoiced);
    m.logOff = logOrNegInf(config.voicedToUnvoiced);
    m.logStayUnvoiced = logOrNegInf(1.0 - config.unvoicedToVoiced);
    m.logOn = logOrNegInf(config.unvoicedToVoiced);
    return m;
}

PYinViterbiStep::PYinViterbiStep(const PYinTransitionModel& model)
    : model_(model), emission_(model.bins), rising_(model.bins), falling_(model.bins), queue_(model.bins),
      bestVoiced_(model.bins), bestUnvoiced_(model.bins), fromVoiced_(model.bins), fromUnvoiced_(model.bins) {
}

double PYinViterbiStep::unvoicedEmission(const FrameObs& obs, std::uint32_t bins) noexcept {
    return std::log(std::max(1e-12, (1.0 - obs.voicedMass) / static_cast<double>(bins)));
}

std::span<const double> PYinViterbiStep::voicedEmission(const FrameObs& obs) noexcept {
    std::fill(emission_.begin(), emission_.end(), kNegInf);
    const auto add = [&](std::uint32_t bin, double w) {
        emission_[bin] = std::log(std::exp(emission_[bin]) + w);
    };
    for (const PYinBinMass& c : obs.kept()) {
        const double w = obs.voicedMass > 0.0 ? c.probability * obs.voicedMass : 0.0;
        if (c.bin > 0)
            add(c.bin - 1, kNeighbourShare * w);
        add(c.bin, kCentreShare * w);
        if (c.bin + 1 < model_.bins)
            add(c.bin + 1, kNeighbourShare * w);
    }
    return emission_;
}

// The window maximum splits at j: to the left, scores[k] - slope (j - k) = rising[k] - slope j, and to
// the right, scores[k] - slope (k - j) = falling[k] + slope j, so each side is a plain sliding-window
// maximum kept by a monotone queue in time proportional to bins. The two winners are then compared by
// their true scores; on a tie the left one (the smaller k) wins, and inside each side the queue keeps
// the smallest k among equal values.
void PYinViterbiStep::bestPredecessors(const double* scores, double* best, std::uint32_t* from) noexcept {
    const std::uint32_t n = model_.bins;
    const std::uint32_t h = model_.halfWidth;
    const double slope = model_.slope;
    for (std::uint32_t k = 0; k < n; ++k) {
        const double offset = slope * static_cast<double>(k);
        rising_[k] = scores[k] + offset;
        falling_[k] = scores[k] - offset;
    }
    std::uint32_t* q = queue_.data();

    // Left side, j ascending, k in [j - h, j]: fromLeft is stored in `from`, its score in `best`.
    std::uint32_t head = 0;
    std::uint32_t tail = 0;
    for (std::uint32_t j = 0; j < n; ++j) {
        while (tail > head && rising_[q[tail - 1]] < rising_[j])
            --tail;
        q[tail++] = j;
        if (q[head] + h < j)
            ++head;
        const std::uint32_t k = q[head];
        from[j] = k;
        best[j] = scores[k] - slope * static_cast<double>(j - k);
    }
    // Right side, j descending, k in [j, j + h]; the newer (smaller) k displaces equal values.
    head = 0;
    tail = 0;
    for (std::uint32_t jj = n; jj-- > 0;) {
        while (tail > head && falling_[q[tail - 1]] <= falling_[jj])
            --tail;
        q[tail++] = jj;
        if (q[head] > jj + h)
            ++head;
        const std::uint32_t k = q[head];
        const double score = scores[k] - slope * static_cast<double>(k - jj);
        if (score > best[jj]) {
            best[jj] = score;
            from[jj] = k;
        }
    }
}

void PYinViterbiStep::run(const FrameObs& obs, std::span<const double> prev, std::span<double> cur,
                          std::uint32_t* backPointers) noexcept {
    const std::uint32_t n = model_.bins;
    const std::span<const double> emission = voicedEmission(obs);
    const double unvoiced = unvoicedEmission(obs, n);
    bestPredecessors(prev.data(), bestVoiced_.data(), fromVoiced_.data());
    bestPredecessors(prev.data() + n, bestUnvoiced_.data(), fromUnvoiced_.data());

    double top = kNegInf;
    for (std::uint32_t j = 0; j < n; ++j) {
        const double stayVoiced = bestVoiced_[j] + model_.logStayVoiced;
        const double switchOn = bestUnvoiced_[j] + model_.logOn;
        const bool voicedWins = stayVoiced >= switchOn;
        const double toVoiced = (voicedWins ? stayVoiced : switchOn) + emission[j];

        const double stayUnvoiced = bestUnvoiced_[j] + model_.logStayUnvoiced;
        const double switchOff = bestVoiced_[j] + model_.logOff;
        const bool unvoicedWins = stayUnvoiced >= switchOff;
        const double toUnvoiced = (unvoicedWins ? stayUnvoiced : switchOff) + unvoiced;

        cur[j] = toVoiced;
        cur[n + j] = toUnvoiced;
        top = std::max(top, std::max(toVoiced, toUnvoiced));
        if (backPointers != nullptr) {
            backPointers[j] = voicedWins ? fromVoiced_[j] : n + fromUnvoiced_[j];
            backPointers[n + j] = unvoicedWins ? n + fromUnvoiced_[j] : fromVoiced_[j];
        }
    }
    // Keep the scores near 0 so that long tracks do not drift towards the end of double's range.
    if (top != kNegInf) {
        for (double& v : cur.first(2 * static_cast<std::size_t>(n)))
            v -= top;
    }
}

std::optional<std::vector<std::uint32_t>> decodePYinPath(std::span<const FrameObs> observations,
                                                         const PYinTransitionModel& model,
                                                         std::uint64_t checkpointInterval,
                                                         const std::function<bool(float)>& progress) {
    const std::size_t frames = observations.size();
    const std::size_t states = model.states();
    if (frames == 0)
        return std::vector<std::uint32_t>{};
    const std::size_t interval =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(checkpointInterval, 1, frames));
    const std::size_t checkpoints = (frames - 1 + interval) / interval;

    PYinViterbiStep step(model);
    std::vector<double> checkpoint(checkpoints * states);
    std::vector<double> prev(states, std::log(1.0 / static_cast<double>(states)));
    std::vector<double> cur(states);
    const auto framesF = static_cast<float>(frames);

    for (std::size_t t = 0; t < frames; ++t) {
        if (t % interval == 0)
            std::copy(prev.begin(), prev.end(),
                      checkpoint.begin() + static_cast<std::ptrdiff_t>(t / interval * states));
        step.run(observations[t], prev, cur, nullptr);
        prev.swap(cur);
        if (t % 256 == 0 && progress && !progress(0.17f * static_cast<float>(t) / framesF + 0.65f))
            return std::nullopt;
    }

    // The lowest index among equal final scores.
    auto state = static_cast<std::uint32_t>(
        std::max_element(prev.begin(), prev.end(), [](double a, double b) { return a < b; }) - prev.begin());

    std::vector<std::uint32_t> path(frames);
    std::vector<std::uint32_t> backPointers(interval * states);
    std::size_t traced = 0;
    for (std::size_t s = checkpoints; s-- > 0;) {
        const std::size_t first = s * interval;
        const std::size_t end = std::min(first + interval, frames);
        std::copy_n(checkpoint.begin() + static_cast<std::ptrdiff_t>(s * states), states, prev.begin());
        for (std::size_t t = first; t < end; ++t) {
            const std::size_t i = t - first;
            step.run(observations[t], prev, cur, backPointers.data() + i * states);
            prev.swap(cur);
            if (i % 64 == 0 && progress &&
                !progress(static_cast<float>(traced + i) / framesF * 0.16f + 0.82f))
                return std::nullopt;
        }
        for (std::size_t t = end; t-- > first;) {
            path[t] = state;
            state = backPointers[(t - first) * states + state];
        }
        traced += end - first;
    }
    return path;
}

} // namespace np
