#include "engine/analysis/analysis_threads.h"
#include "engine/analysis/pyin_decoder.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr double kNegInf = -std::numeric_limits<double>::infinity();

np::PYinTransitionModel model(std::uint32_t bins, double jumpCents, double off, double on) {
    return np::PYinTransitionModel::make(
        bins, {.binCents = 10.0, .maxJumpCents = jumpCents, .voicedToUnvoiced = off, .unvoicedToVoiced = on});
}

// Random observations with many exact ties: silent frames (every voiced state impossible), repeated
// probabilities and candidates on the edge bins.
std::vector<np::FrameObs> randomObservations(std::size_t frames, std::uint32_t bins, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::uint32_t> bin(0, bins - 1);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<std::uint32_t> count(1, np::kPYinMaxCandidates);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<np::FrameObs> obs(frames);
    for (auto& o : obs) {
        const int k = kind(rng);
        if (k < 3)
            continue; // silent frame
        o.candidateCount = k < 5 ? 1 : count(rng);
        const double shared = unit(rng);
        for (std::uint32_t i = 0; i < o.candidateCount; ++i)
            o.candidates[i] = {k == 8 ? (i % 2 == 0 ? 0 : bins - 1) : bin(rng), k == 9 ? shared : unit(rng)};
        o.voicedMass = std::min(0.99, unit(rng));
    }
    return obs;
}

// A plain Viterbi with a full frames x states back-pointer table over the same step.
std::vector<std::uint32_t> fullTablePath(const std::vector<np::FrameObs>& obs,
                                         const np::PYinTransitionModel& m) {
    const std::uint32_t states = m.states();
    np::PYinViterbiStep step(m);
    std::vector<double> prev(states, std::log(1.0 / states));
    std::vector<double> cur(states);
    std::vector<std::uint32_t> table(obs.size() * states);
    for (std::size_t t = 0; t < obs.size(); ++t) {
        step.run(obs[t], prev, cur, table.data() + t * states);
        prev.swap(cur);
    }
    std::uint32_t state = 0; // the lowest index among equal final scores
    for (std::uint32_t s = 1; s < states; ++s)
        if (prev[s] > prev[state])
            state = s;
    std::vector<std::uint32_t> path(obs.size());
    for (std::size_t t = obs.size(); t-- > 0;) {
        path[t] = state;
        state = table[t * states + state];
    }
    return path;
}

} // namespace

TEST(PYinDecoder, CheckpointedPathEqualsFullTableViterbi) {
    const std::pair<const char*, np::PYinTransitionModel> cases[] = {
        {"default-like", model(40, 240.0, 0.01, 0.01)},
        {"no jump still moves one bin", model(12, 0.0, 0.01, 0.01)},
        {"window wider than the grid", model(6, 500.0, 0.3, 0.2)},
        {"voicing never changes", model(10, 30.0, 0.0, 0.0)},
        {"voicing always changes", model(10, 30.0, 1.0, 1.0)},
        {"moves too wide for one-byte back-pointers", model(150, 900.0, 0.05, 0.05)},
    };
    // The backward segments run in parallel on several threads, and must trace the same path.
    for (int threads : {1, 4}) {
        np::setAnalysisThreadCount(threads);
        for (const auto& [name, m] : cases) {
            for (std::uint32_t seed = 1; seed <= 4; ++seed) {
                const std::size_t frames = 37 + 50 * seed;
                const auto obs = randomObservations(frames, m.bins, seed);
                const auto expected = fullTablePath(obs, m);
                const auto root = static_cast<std::uint64_t>(std::ceil(std::sqrt(2.0 * frames)));
                for (std::uint64_t every :
                     {std::uint64_t{1}, std::uint64_t{7}, root, std::uint64_t{frames}}) {
                    SCOPED_TRACE(std::string(name) + " seed " + std::to_string(seed) + " interval " +
                                 std::to_string(every) + " threads " + std::to_string(threads));
                    EXPECT_EQ(np::decodePYinPath(obs, m, every, {}), expected);
                }
            }
        }
    }
    np::setAnalysisThreadCount(0);
}

TEST(PYinDecoder, StepMatchesTheModelWithABruteForceWindowMaximum) {
    const std::uint32_t n = 30;
    const auto m = model(n, 70.0, 0.05, 0.02);
    const auto obs = randomObservations(200, n, 21);
    std::mt19937 rng(4);
    std::uniform_real_distribution<double> score(-30.0, 0.0);
    std::uniform_int_distribution<int> impossible(0, 4);
    np::PYinViterbiStep step(m);
    np::PYinViterbiStep emissions(m);
    std::vector<double> prev(2 * n), cur(2 * n), best(2 * n), expected(2 * n);
    std::vector<std::uint32_t> from(2 * n);
    const auto distance = [&](std::uint32_t a, std::uint32_t b) {
        return a % n > b % n ? a % n - b % n : b % n - a % n;
    };
    for (std::size_t t = 0; t < obs.size(); ++t) {
        SCOPED_TRACE(t);
        for (double& v : prev) // every tenth frame starts with nothing reachable
            v = t % 10 == 0 || impossible(rng) == 0 ? kNegInf : score(rng);
        step.run(obs[t], prev, cur, from.data());
        const auto voiced = emissions.voicedEmission(obs[t]);
        // The score of state s reached from state pred, before the emission and the shift.
        const auto via = [&](std::uint32_t s, std::uint32_t pred) {
            const double change =
                s < n ? (pred < n ? m.logStayVoiced : m.logOn) : (pred < n ? m.logOff : m.logStayUnvoiced);
            return prev[pred] - m.slope * static_cast<double>(distance(s, pred)) + change;
        };
        double top = kNegInf;
        for (std::uint32_t s = 0; s < 2 * n; ++s) {
            best[s] = kNegInf;
            for (std::uint32_t pred = 0; pred < 2 * n; ++pred)
                if (distance(s, pred) <= m.halfWidth)
                    best[s] = std::max(best[s], via(s, pred));
            expected[s] = best[s] + (s < n ? voiced[s] : np::PYinViterbiStep::unvoicedEmission(obs[t], n));
            top = std::max(top, expected[s]);
        }
        for (std::uint32_t s = 0; s < 2 * n; ++s) {
            SCOPED_TRACE(s);
            ASSERT_TRUE(from[s] < 2 * n && distance(s, from[s]) <= m.halfWidth);
            EXPECT_TRUE(std::isinf(expected[s]) ? cur[s] == kNegInf
                                                : std::abs(cur[s] - (expected[s] - top)) < 1e-12);
            if (std::isinf(best[s])) // nothing reachable: the first state of the window, same voicing
                EXPECT_EQ(from[s], s - s % n + (s % n > m.halfWidth ? s % n - m.halfWidth : 0));
            else // the named predecessor gives the best score, even when the emission rules the state out
                EXPECT_NEAR(via(s, from[s]), best[s], 1e-12);
        }
    }
}

TEST(PYinDecoder, StepBreaksTiesTowardsTheSmallerBinAndTheSameVoicing) {
    const std::uint32_t bins = 9;
    const auto m = model(bins, 30.0, 0.5, 0.5);
    ASSERT_EQ(m.halfWidth, 3u);
    np::PYinViterbiStep step(m);
    std::vector<double> cur(2 * bins);
    std::vector<std::uint32_t> from(2 * bins);
    // Equal scores at equal distance on both sides of bin 4; with equal switch probabilities each
    // state keeps its own voicing.
    std::vector<double> prev(2 * bins, kNegInf);
    prev[2] = prev[6] = prev[bins + 2] = prev[bins + 6] = -1.0;
    step.run(np::FrameObs{}, prev, cur, from.data());
    EXPECT_EQ(from[4], 2u);
    EXPECT_EQ(from[bins + 4], bins + 2);
    EXPECT_EQ(from[bins + 5], bins + 6); // nearer wins over smaller
}

TEST(PYinDecoder, ModelTakesTheJumpInBinsAndTheLogsOfTheSwitches) {
    const auto m = model(621, 240.0, 0.01, 0.02);
    EXPECT_EQ(m.halfWidth, 24u);
    EXPECT_DOUBLE_EQ(m.slope, 1.59362 / 25) << "the log-score penalty per bin moved";
    EXPECT_EQ(std::vector({m.logStayVoiced, m.logOff, m.logStayUnvoiced, m.logOn}),
              std::vector({std::log(0.99), std::log(0.01), std::log(0.98), std::log(0.02)}));
    // At least one bin, at most the grid.
    EXPECT_EQ(model(621, 0.0, 0.01, 0.01).halfWidth, 1u);
    EXPECT_EQ(model(8, 1e6, 0.01, 0.01).halfWidth, 7u);
}
