#include "engine/analysis/pyin_decoder.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr double kNegInf = -std::numeric_limits<double>::infinity();

// A plain Viterbi with a full frames x states back-pointer table over the same step: whatever the
// checkpointing does, the path must come out identical.
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
    std::uint32_t state = 0;
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

// One step written straight from the model's definition, with a brute-force window maximum.
struct BruteStep {
    std::vector<double> cur;
    std::vector<std::uint32_t> from;
    std::vector<double> emission; // per state
    double top = kNegInf;         // the largest score before the shift
};
BruteStep bruteStep(const np::FrameObs& obs, const std::vector<double>& prev,
                    const np::PYinTransitionModel& m) {
    const std::uint32_t n = m.bins;
    np::PYinViterbiStep emissions(m);
    const auto emission = emissions.voicedEmission(obs);
    const double unvoiced = np::PYinViterbiStep::unvoicedEmission(obs, n);
    const auto best = [&](std::uint32_t block, std::uint32_t j, std::uint32_t& from) {
        double top = kNegInf;
        bool first = true;
        for (std::uint32_t k = (j > m.halfWidth ? j - m.halfWidth : 0); k <= std::min(n - 1, j + m.halfWidth);
             ++k) {
            const double s = prev[block + k] - m.slope * static_cast<double>(j > k ? j - k : k - j);
            if (first || s > top) {
                top = s;
                from = block + k;
                first = false;
            }
        }
        return top;
    };
    BruteStep out{std::vector<double>(2 * n), std::vector<std::uint32_t>(2 * n), std::vector<double>(2 * n),
                  kNegInf};
    double& top = out.top;
    for (std::uint32_t j = 0; j < n; ++j) {
        std::uint32_t fv = 0;
        std::uint32_t fu = 0;
        const double bv = best(0, j, fv);
        const double bu = best(n, j, fu);
        const double a = bv + m.logStayVoiced;
        const double b = bu + m.logOn;
        out.cur[j] = (a >= b ? a : b) + emission[j];
        out.emission[j] = emission[j];
        out.emission[n + j] = unvoiced;
        out.from[j] = a >= b ? fv : fu;
        const double c = bu + m.logStayUnvoiced;
        const double d = bv + m.logOff;
        out.cur[n + j] = (c >= d ? c : d) + unvoiced;
        out.from[n + j] = c >= d ? fu : fv;
        top = std::max({top, out.cur[j], out.cur[n + j]});
    }
    if (top != kNegInf)
        for (double& v : out.cur)
            v -= top;
    return out;
}

// The score state s gets when it comes from state pred, before the shift.
double scoreVia(std::uint32_t s, std::uint32_t pred, const std::vector<double>& prev, const BruteStep& b,
                const np::PYinTransitionModel& m) {
    const std::uint32_t n = m.bins;
    const bool toVoiced = s < n;
    const bool fromVoiced = pred < n;
    const std::uint32_t j = s % n;
    const std::uint32_t k = pred % n;
    const double move = m.slope * static_cast<double>(j > k ? j - k : k - j);
    const double change =
        toVoiced ? (fromVoiced ? m.logStayVoiced : m.logOn) : (fromVoiced ? m.logOff : m.logStayUnvoiced);
    return prev[pred] - move + change + b.emission[s];
}

// Random observations with many exact ties: silent frames (every voiced state impossible), repeated
// probabilities and candidates on neighbouring and edge bins.
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
        double sum = 0.0;
        for (std::uint32_t i = 0; i < o.candidateCount; ++i) {
            const double p = k == 9 ? shared : unit(rng);
            o.candidates[i] = {k == 8 ? (i % 2 == 0 ? 0 : bins - 1) : bin(rng), p};
            sum += p;
        }
        o.voicedMass = std::min(0.99, unit(rng));
        for (std::uint32_t i = 0; i < o.candidateCount; ++i)
            o.candidates[i].probability /= sum;
    }
    return obs;
}

np::PYinConfig configWith(double jumpCents, double off, double on) {
    np::PYinConfig c;
    c.binCents = 10.0;
    c.maxJumpCents = jumpCents;
    c.voicedToUnvoiced = off;
    c.unvoicedToVoiced = on;
    return c;
}

} // namespace

TEST(PYinDecoder, CheckpointedPathEqualsFullTableViterbi) {
    struct Case {
        const char* name;
        std::uint32_t bins;
        double jumpCents;
        double off;
        double on;
    };
    const Case cases[] = {
        {"default-like", 40, 240.0, 0.01, 0.01},
        {"no jump still moves one bin", 12, 0.0, 0.01, 0.01},
        {"window wider than the grid", 6, 500.0, 0.3, 0.2},
        {"voicing never changes", 10, 30.0, 0.0, 0.0},
        {"voicing always changes", 10, 30.0, 1.0, 1.0},
    };
    for (const Case& c : cases) {
        const np::PYinTransitionModel model =
            np::PYinTransitionModel::make(c.bins, configWith(c.jumpCents, c.off, c.on));
        for (std::uint32_t seed = 1; seed <= 4; ++seed) {
            const std::size_t frames = 37 + 50 * seed;
            const auto obs = randomObservations(frames, c.bins, seed);
            const auto expected = fullTablePath(obs, model);
            const auto interval = static_cast<std::uint64_t>(std::ceil(std::sqrt(2.0 * frames)));
            for (std::uint64_t every :
                 {std::uint64_t{1}, std::uint64_t{7}, interval, std::uint64_t{frames}}) {
                SCOPED_TRACE(std::string(c.name) + " seed " + std::to_string(seed) + " interval " +
                             std::to_string(every));
                const auto path = np::decodePYinPath(obs, model, every, {});
                ASSERT_TRUE(path.has_value());
                EXPECT_EQ(*path, expected);
            }
        }
    }
}

TEST(PYinDecoder, StepMatchesTheBruteForceWindowMaximum) {
    // The sliding-window maximum must give the brute-force scores, and the predecessor it names must
    // be within the window and give that score. (Where several predecessors score equally in exact
    // arithmetic, rounding may pick any of them in either form, so the index itself is compared only
    // when nothing is reachable.)
    const std::uint32_t bins = 30;
    const auto model = np::PYinTransitionModel::make(bins, configWith(70.0, 0.05, 0.02));
    const auto obs = randomObservations(200, bins, 21);
    std::mt19937 rng(4);
    std::uniform_real_distribution<double> score(-30.0, 0.0);
    std::uniform_int_distribution<int> impossible(0, 4);
    np::PYinViterbiStep step(model);
    std::vector<double> prev(2 * bins);
    std::vector<double> cur(2 * bins);
    std::vector<std::uint32_t> from(2 * bins);
    for (std::size_t t = 0; t < obs.size(); ++t) {
        SCOPED_TRACE(t);
        for (double& v : prev)
            v = impossible(rng) == 0 ? kNegInf : score(rng);
        step.run(obs[t], prev, cur, from.data());
        const BruteStep expected = bruteStep(obs[t], prev, model);
        for (std::uint32_t s = 0; s < 2 * bins; ++s) {
            if (std::isinf(expected.cur[s])) {
                EXPECT_EQ(cur[s], expected.cur[s]) << s;
                EXPECT_EQ(from[s], expected.from[s]) << s; // every option impossible: the first one wins
                continue;
            }
            EXPECT_NEAR(cur[s], expected.cur[s], 1e-12) << s;
            ASSERT_LT(from[s], 2 * bins);
            const std::uint32_t distance =
                s % bins > from[s] % bins ? s % bins - from[s] % bins : from[s] % bins - s % bins;
            EXPECT_LE(distance, model.halfWidth) << s;
            EXPECT_NEAR(scoreVia(s, from[s], prev, expected, model) - expected.top, cur[s], 1e-12) << s;
        }
    }
}

TEST(PYinDecoder, StepBreaksTiesTowardsTheSmallerBinAndTheSameVoicing) {
    const std::uint32_t bins = 9;
    const auto model = np::PYinTransitionModel::make(bins, configWith(30.0, 0.5, 0.5)); // halfWidth 3
    const np::FrameObs silent;
    np::PYinViterbiStep step(model);
    std::vector<double> cur(2 * bins);
    std::vector<std::uint32_t> from(2 * bins);

    // Equal scores at equal distance on both sides of bin 4: the smaller bin wins. The unvoiced block
    // mirrors the voiced one, and with equal switch probabilities each state keeps its own voicing.
    std::vector<double> prev(2 * bins, kNegInf);
    prev[2] = prev[6] = -1.0;
    prev[bins + 2] = prev[bins + 6] = -1.0;
    step.run(silent, prev, cur, from.data());
    EXPECT_EQ(from[bins + 4], bins + 2);
    EXPECT_EQ(from[4], 2u);
    EXPECT_EQ(from[bins + 5], bins + 6); // nearer wins over smaller

    // Nothing reachable: the first state of the window is named.
    std::fill(prev.begin(), prev.end(), kNegInf);
    step.run(silent, prev, cur, from.data());
    EXPECT_EQ(from[bins + 0], bins + 0);
    EXPECT_EQ(from[bins + 5], bins + 2);
    EXPECT_EQ(from[8], 5u);
    EXPECT_EQ(cur[bins + 5], kNegInf);
}

TEST(PYinDecoder, ModelClampsTheJumpAndTakesLogsOfTheSwitches) {
    const auto m = np::PYinTransitionModel::make(621, configWith(240.0, 0.01, 0.02));
    EXPECT_EQ(m.halfWidth, 24u);
    EXPECT_DOUBLE_EQ(m.slope, 1.59362 / 25.0);
    EXPECT_DOUBLE_EQ(m.logStayVoiced, std::log(0.99));
    EXPECT_DOUBLE_EQ(m.logOn, std::log(0.02));
    EXPECT_EQ(np::PYinTransitionModel::make(621, configWith(0.0, 0.0, 1.0)).halfWidth, 1u);
    EXPECT_EQ(np::PYinTransitionModel::make(621, configWith(0.0, 0.0, 1.0)).logOff, kNegInf);
    EXPECT_EQ(np::PYinTransitionModel::make(621, configWith(0.0, 0.0, 1.0)).logStayUnvoiced, kNegInf);
    EXPECT_EQ(np::PYinTransitionModel::make(8, configWith(1e6, 0.01, 0.01)).halfWidth, 7u);
}

TEST(PYinDecoder, FollowsAConfidentPitchAndFallsSilentWithoutOne) {
    const std::uint32_t bins = 30;
    const auto model = np::PYinTransitionModel::make(bins, configWith(50.0, 0.01, 0.01));
    std::vector<np::FrameObs> obs(60);
    for (std::size_t t = 10; t < 50; ++t) {
        obs[t].candidateCount = 1;
        obs[t].candidates[0] = {static_cast<std::uint32_t>(10 + (t - 10) / 8), 1.0};
        obs[t].voicedMass = 0.9;
    }
    const auto path = np::decodePYinPath(obs, model, 8, {});
    ASSERT_TRUE(path.has_value());
    for (std::size_t t = 12; t < 48; ++t)
        EXPECT_EQ((*path)[t], 10 + (t - 10) / 8) << t;
    for (std::size_t t : {0u, 5u, 55u, 59u})
        EXPECT_GE((*path)[t], bins) << t;
}

TEST(PYinDecoder, ProgressRisesThroughBothPassesAndCanStopEither) {
    const auto model = np::PYinTransitionModel::make(20, configWith(50.0, 0.01, 0.01));
    const auto obs = randomObservations(1000, 20, 5);
    std::vector<float> seen;
    ASSERT_TRUE(np::decodePYinPath(obs, model, 45, [&](float f) {
                    seen.push_back(f);
                    return true;
                }).has_value());
    ASSERT_FALSE(seen.empty());
    EXPECT_FLOAT_EQ(seen.front(), 0.65f);
    for (std::size_t i = 1; i < seen.size(); ++i)
        EXPECT_GE(seen[i], seen[i - 1]) << i;
    EXPECT_LT(seen.back(), 0.98f);
    EXPECT_GT(seen.back(), 0.95f);

    for (float stopAt : {0.65f, 0.82f, 0.9f}) {
        SCOPED_TRACE(stopAt);
        EXPECT_FALSE(np::decodePYinPath(obs, model, 45, [&](float f) { return f < stopAt; }).has_value());
    }
}
