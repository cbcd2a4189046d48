#include "engine/analysis/pyin_decoder.h"

#include "engine/analysis/analysis_threads.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <type_traits>

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
    : model_(model), emission_(model.bins), values_(model.bins), queue_(model.bins), bestVoiced_(model.bins),
      bestUnvoiced_(model.bins), fromVoiced_(model.bins), fromUnvoiced_(model.bins) {}

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
// the smallest k among equal values. The queue holds its values beside its indices, so that the
// comparisons read no table through an index.
void PYinViterbiStep::bestPredecessors(const double* scores, double* best, std::uint32_t* from) noexcept {
    const std::uint32_t n = model_.bins;
    const std::uint32_t h = model_.halfWidth;
    const double slope = model_.slope;
    std::uint32_t* q = queue_.data();
    double* values = values_.data();

    // Left side, j ascending, k in [j - h, j]: fromLeft is stored in `from`, its score in `best`.
    std::uint32_t head = 0;
    std::uint32_t tail = 0;
    for (std::uint32_t j = 0; j < n; ++j) {
        const double rising = scores[j] + slope * static_cast<double>(j);
        while (tail > head && values[tail - 1] < rising)
            --tail;
        values[tail] = rising;
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
        const double falling = scores[jj] - slope * static_cast<double>(jj);
        while (tail > head && values[tail - 1] <= falling)
            --tail;
        values[tail] = falling;
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

void PYinViterbiStep::run(const FrameObs& obs, std::span<const double> prev, std::span<double> cur) noexcept {
    run<std::uint32_t>(obs, prev, cur, nullptr);
}

template <typename BackPointer>
void PYinViterbiStep::run(const FrameObs& obs, std::span<const double> prev, std::span<double> cur,
                          BackPointer* backPointers) noexcept {
    const std::uint32_t n = model_.bins;
    const std::uint32_t h = model_.halfWidth;
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
        if (backPointers == nullptr)
            continue;
        if constexpr (std::is_same_v<BackPointer, std::uint32_t>) {
            backPointers[j] = voicedWins ? fromVoiced_[j] : n + fromUnvoiced_[j];
            backPointers[n + j] = unvoicedWins ? n + fromUnvoiced_[j] : fromVoiced_[j];
        } else {
            // The codes that PYinBackPointerCode decodes: (bin move + halfWidth) * 2 + unvoiced.
            const auto voicedCode = static_cast<BackPointer>((fromVoiced_[j] + h - j) * 2);
            const auto unvoicedCode = static_cast<BackPointer>((fromUnvoiced_[j] + h - j) * 2 + 1);
            backPointers[j] = voicedWins ? voicedCode : unvoicedCode;
            backPointers[n + j] = unvoicedWins ? unvoicedCode : voicedCode;
        }
    }
    // Keep the scores near 0 so that long tracks do not drift towards the end of double's range.
    if (top != kNegInf) {
        for (double& v : cur.first(2 * static_cast<std::size_t>(n)))
            v -= top;
    }
}

template void PYinViterbiStep::run(const FrameObs&, std::span<const double>, std::span<double>,
                                   std::uint8_t*) noexcept;
template void PYinViterbiStep::run(const FrameObs&, std::span<const double>, std::span<double>,
                                   std::uint16_t*) noexcept;
template void PYinViterbiStep::run(const FrameObs&, std::span<const double>, std::span<double>,
                                   std::uint32_t*) noexcept;

PYinDecoder::PYinDecoder(const PYinTransitionModel& model, std::size_t frames,
                         std::uint64_t checkpointInterval)
    : model_(model), frames_(std::max<std::size_t>(frames, 1)),
      interval_(static_cast<std::size_t>(std::clamp<std::uint64_t>(checkpointInterval, 1, frames_))),
      step_(model), checkpoints_((frames_ - 1 + interval_) / interval_ * model.states()),
      prev_(model.states(), std::log(1.0 / static_cast<double>(model.states()))), cur_(model.states()) {}

PYinDecoder::~PYinDecoder() = default;

void PYinDecoder::forward(const FrameObs& obs) noexcept {
    if (forwarded_ % interval_ == 0)
        std::copy(prev_.begin(), prev_.end(),
                  checkpoints_.begin() + static_cast<std::ptrdiff_t>(forwarded_ / interval_ * prev_.size()));
    step_.run(obs, prev_, cur_);
    prev_.swap(cur_);
    ++forwarded_;
}

float PYinDecoder::forwardFraction(std::size_t t) const noexcept {
    return 0.17f * static_cast<float>(t) / static_cast<float>(frames_) + 0.65f;
}

std::optional<std::vector<std::uint32_t>> PYinDecoder::backward(std::span<const FrameObs> observations,
                                                                const std::function<bool(float)>& progress) {
    // Codes of a byte whenever the largest move allows it (the defaults move at most 24 bins).
    if (model_.halfWidth < 64)
        return backwardWith<std::uint8_t>(observations, progress);
    return backwardWith<std::uint16_t>(observations, progress);
}

template <typename BackPointer>
std::optional<std::vector<std::uint32_t>>
PYinDecoder::backwardWith(std::span<const FrameObs> observations,
                          const std::function<bool(float)>& progress) {
    const std::size_t states = model_.states();
    const std::size_t segments = (frames_ - 1 + interval_) / interval_;
    const auto framesF = static_cast<float>(frames_);
    // The lowest index among equal final scores.
    std::uint32_t state = static_cast<std::uint32_t>(
        std::max_element(prev_.begin(), prev_.end(), [](double a, double b) { return a < b; }) -
        prev_.begin());
    std::vector<std::uint32_t> path(frames_);

    // The workers' segments of codes share the memory planned for one segment of plain indices.
    const std::uint64_t segmentBytes = static_cast<std::uint64_t>(interval_) * states;
    const int threads = detail::stageThreads(segments, segmentBytes * sizeof(std::uint32_t),
                                             segmentBytes * sizeof(BackPointer));
    struct Worker {
        std::unique_ptr<PYinViterbiStep> step;
        std::vector<double> prev;
        std::vector<double> cur;
        std::vector<BackPointer> backPointers;
    };
    std::vector<Worker> workers(static_cast<std::size_t>(threads));
    const PYinBackPointerCode code{model_.bins, model_.halfWidth};
    detail::ChunkedStage stage(segments, threads);

    // Chunk k is segment segments - 1 - k: the segments go from the last to the first, and each traces
    // its path once the later one has handed over the state it starts from.
    const auto work = [&](std::size_t chunk, int worker) {
        Worker& w = workers[static_cast<std::size_t>(worker)];
        if (w.backPointers.empty()) {
            w.backPointers.resize(interval_ * states);
            w.prev.resize(states);
            w.cur.resize(states);
            if (worker != 0)
                w.step = std::make_unique<PYinViterbiStep>(model_);
        }
        PYinViterbiStep& step = worker == 0 ? step_ : *w.step;
        const std::size_t s = segments - 1 - chunk;
        const std::size_t first = s * interval_;
        const std::size_t end = std::min(first + interval_, frames_);
        std::copy_n(checkpoints_.begin() + static_cast<std::ptrdiff_t>(s * states), states, w.prev.begin());
        for (std::size_t t = first; t < end; ++t) {
            step.run(observations[t], w.prev, w.cur, w.backPointers.data() + (t - first) * states);
            w.prev.swap(w.cur);
        }
        if (chunk > 0 && !stage.awaitChunk(chunk - 1))
            return;
        for (std::size_t t = end; t-- > first;) {
            path[t] = state;
            state = code.decode(state, w.backPointers[(t - first) * states + state]);
        }
    };
    std::size_t traced = 0;
    const auto report = [&](std::size_t chunk) {
        const std::size_t s = segments - 1 - chunk;
        const std::size_t length = std::min(s * interval_ + interval_, frames_) - s * interval_;
        for (std::size_t i = 0; i < length; i += 64)
            if (progress && !progress(static_cast<float>(traced + i) / framesF * 0.16f + 0.82f))
                return false;
        traced += length;
        return true;
    };
    if (!stage.run(work, report))
        return std::nullopt;
    return path;
}

std::optional<std::vector<std::uint32_t>> decodePYinPath(std::span<const FrameObs> observations,
                                                         const PYinTransitionModel& model,
                                                         std::uint64_t checkpointInterval,
                                                         const std::function<bool(float)>& progress) {
    const std::size_t frames = observations.size();
    if (frames == 0)
        return std::vector<std::uint32_t>{};
    PYinDecoder decoder(model, frames, checkpointInterval);
    for (std::size_t t = 0; t < frames; ++t) {
        decoder.forward(observations[t]);
        if (PYinDecoder::reportsForwardAt(t) && progress && !progress(decoder.forwardFraction(t)))
            return std::nullopt;
    }
    return decoder.backward(observations, progress);
}

} // namespace np
