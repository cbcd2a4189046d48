#pragma once

#include "engine/analysis/analysis_records.h"
#include "engine/analysis/pyin_observation.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace np {

// The hidden Markov model of probabilistic YIN and its Viterbi decoder. States 0..bins-1 are the
// voiced states of the pitch bins, bins..2*bins-1 the unvoiced states of the same bins. Pitch moves
// at most halfWidth bins per frame with a linear penalty on the distance; voicing switches with the
// configured probabilities. Scores are natural logarithms.
struct PYinTransitionModel {
    std::uint32_t bins = 0;
    std::uint32_t halfWidth = 1; // largest bin move per frame, 1..bins-1
    double slope = 0.0;          // log-score penalty per bin moved
    double logStayVoiced = 0.0;
    double logOff = 0.0; // voiced to unvoiced
    double logStayUnvoiced = 0.0;
    double logOn = 0.0; // unvoiced to voiced

    // bins >= 2. halfWidth is trunc(maxJumpCents / binCents) clamped to 1..bins-1.
    static PYinTransitionModel make(std::uint32_t bins, const PYinConfig& config) noexcept;

    std::uint32_t states() const noexcept { return 2 * bins; }
};

// One Viterbi step with its scratch buffers, taken once. Not thread-safe: one step per thread.
class PYinViterbiStep {
public:
    explicit PYinViterbiStep(const PYinTransitionModel& model);

    // cur = best score of each state after observing obs, given the scores prev of the frame before,
    // shifted so that the best is 0 (unless every state is impossible). Ties go to the smaller
    // previous bin, to the voiced predecessor of a voiced state and to the unvoiced predecessor of an
    // unvoiced state. prev and cur hold states() values and must not overlap.
    void run(const FrameObs& obs, std::span<const double> prev, std::span<double> cur) noexcept;

    // The same, also writing per state where its best score came from into backPointers (states()
    // values): the previous state itself as std::uint32_t, or as a compact code (see
    // PYinBackPointerCode) as std::uint8_t or std::uint16_t.
    template <typename BackPointer>
    void run(const FrameObs& obs, std::span<const double> prev, std::span<double> cur,
             BackPointer* backPointers) noexcept;

    // Emission scores of the voiced states for obs (-infinity where the frame has no mass); exposed so
    // that a reference decoder can share them.
    std::span<const double> voicedEmission(const FrameObs& obs) noexcept;
    // Emission score of every unvoiced state for obs.
    static double unvoicedEmission(const FrameObs& obs, std::uint32_t bins) noexcept;

private:
    // best[j] = max over |j - k| <= halfWidth of scores[k] - slope |j - k|, with its k.
    void bestPredecessors(const double* scores, double* best, std::uint32_t* from) noexcept;

    PYinTransitionModel model_;
    std::vector<double> emission_;
    std::vector<double> values_;       // the monotone queue's values: scores[k] +- slope k
    std::vector<std::uint32_t> queue_; // the monotone queue's bins
    std::vector<double> bestVoiced_;
    std::vector<double> bestUnvoiced_;
    std::vector<std::uint32_t> fromVoiced_;
    std::vector<std::uint32_t> fromUnvoiced_;
};

// A back-pointer as a small code: a predecessor lies at most halfWidth bins from its state, so
// (bin move + halfWidth) * 2 + (predecessor unvoiced) fits a byte when halfWidth < 64 and 16 bits for
// every grid (bins <= 8192), a quarter or half of a plain state index.
struct PYinBackPointerCode {
    std::uint32_t bins = 0;
    std::uint32_t halfWidth = 1;

    std::uint32_t decode(std::uint32_t state, std::uint32_t code) const noexcept {
        const std::uint32_t from = state % bins + code / 2 - halfWidth;
        return (code & 1u) != 0 ? bins + from : from;
    }
};

// The most probable state path through observations, one state per frame, decoded with square-root
// checkpointing: the forward pass stores the scores every checkpointInterval frames, and the backward
// pass re-runs one segment at a time to recover its back-pointers. Memory: checkpoints of states()
// doubles, one segment of back-pointers and the path, as planPYinDecoderMemory counts it. Returns the
// same path as a full back-pointer table would.
//
// The forward pass can run beside the stage that makes the observations (forward() takes them one by
// one); the backward segments are recovered from their checkpoints in parallel, each worker with a
// segment of compact back-pointers, as many workers as fit the planned segment of plain ones. Progress
// keeps the serial order and values either way.
class PYinDecoder {
public:
    // frames >= 1; checkpointInterval is clamped to 1..frames. Takes all its memory here.
    PYinDecoder(const PYinTransitionModel& model, std::size_t frames, std::uint64_t checkpointInterval);
    ~PYinDecoder();
    PYinDecoder(const PYinDecoder&) = delete;
    PYinDecoder& operator=(const PYinDecoder&) = delete;

    // Steps the next frame of the forward pass, storing a checkpoint when due.
    void forward(const FrameObs& obs) noexcept;

    // The progress the serial forward pass reports after frame t, when it reports there.
    static constexpr std::size_t kForwardReportFrames = 256;
    static bool reportsForwardAt(std::size_t t) noexcept { return t % kForwardReportFrames == 0; }
    float forwardFraction(std::size_t t) const noexcept;

    // The backward pass, once every frame went forward: progress gets 0.82..0.98 (every 64 frames of
    // a segment); false abandons and gives nullopt. Runs on up to analysisThreadCount() threads.
    std::optional<std::vector<std::uint32_t>> backward(std::span<const FrameObs> observations,
                                                       const std::function<bool(float)>& progress);

private:
    template <typename BackPointer>
    std::optional<std::vector<std::uint32_t>> backwardWith(std::span<const FrameObs> observations,
                                                           const std::function<bool(float)>& progress);

    PYinTransitionModel model_;
    std::size_t frames_;
    std::size_t interval_;
    std::size_t forwarded_ = 0;
    PYinViterbiStep step_;
    std::vector<double> checkpoints_;
    std::vector<double> prev_;
    std::vector<double> cur_;
};

// The two passes of PYinDecoder one after the other: progress gets 0.65..0.82 over the forward pass
// (every 256 frames) and 0.82..0.98 over the backward pass (every 64 frames of a segment); false
// abandons and gives nullopt.
std::optional<std::vector<std::uint32_t>> decodePYinPath(std::span<const FrameObs> observations,
                                                         const PYinTransitionModel& model,
                                                         std::uint64_t checkpointInterval,
                                                         const std::function<bool(float)>& progress);

} // namespace np
