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

// One Viterbi step with its scratch buffers, taken once. Not thread-safe.
class PYinViterbiStep {
public:
    explicit PYinViterbiStep(const PYinTransitionModel& model);

    // cur = best score of each state after observing obs, given the scores prev of the frame before,
    // shifted so that the best is 0 (unless every state is impossible). When backPointers is given it
    // receives, per state, the previous state the best score came from. Ties go to the smaller
    // previous bin, to the voiced predecessor of a voiced state and to the unvoiced predecessor of an
    // unvoiced state. prev, cur and backPointers hold states() values; prev and cur must not overlap.
    void run(const FrameObs& obs, std::span<const double> prev, std::span<double> cur,
             std::uint32_t* backPointers) noexcept;

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
    std::vector<double> rising_;  // scores[k] + slope k
    std::vector<double> falling_; // scores[k] - slope k
    std::vector<std::uint32_t> queue_;
    std::vector<double> bestVoiced_;
    std::vector<double> bestUnvoiced_;
    std::vector<std::uint32_t> fromVoiced_;
    std::vector<std::uint32_t> fromUnvoiced_;
};

// The most probable state path through observations, one state per frame, decoded with square-root
// checkpointing: the forward pass stores the scores every checkpointInterval frames, and the backward
// pass re-runs one segment at a time to recover its back-pointers. Memory: checkpoints of states()
// doubles, one segment of back-pointers and the path, as planPYinDecoderMemory counts it. Returns the
// same path as a full back-pointer table would.
//
// progress gets 0.65..0.82 over the forward pass (every 256 frames) and 0.82..0.98 over the backward
// pass (every 64 frames of a segment); false abandons and gives nullopt.
std::optional<std::vector<std::uint32_t>> decodePYinPath(std::span<const FrameObs> observations,
                                                         const PYinTransitionModel& model,
                                                         std::uint64_t checkpointInterval,
                                                         const std::function<bool(float)>& progress);

} // namespace np
