#include "engine/analysis/yin.h"
#include "tests/support/signals.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

// The normalised difference straight from its definition, in O(window x lags), as an independent
// reference for the FFT path.
std::vector<double> directNormalisedDifference(const std::vector<float>& x, int window, int maxLag) {
    std::vector<double> dn(static_cast<std::size_t>(maxLag) + 1, 1.0);
    double running = 0.0;
    for (int tau = 1; tau <= maxLag; ++tau) {
        double d = 0.0;
        for (int i = 0; i + tau < window; ++i) {
            const double diff =
                static_cast<double>(x[static_cast<std::size_t>(i)]) - x[static_cast<std::size_t>(i + tau)];
            d += diff * diff;
        }
        running += d;
        dn[static_cast<std::size_t>(tau)] = running > 0.0 ? d * tau / running : 1.0;
    }
    return dn;
}

} // namespace

TEST(YinFrameAnalyzer, LagRangeFollowsRateAndPitchBounds) {
    struct Case {
        int window;
        double rate;
        double minHz;
        double maxHz;
        int minLag;
        int maxLag;
    };
    const Case cases[] = {
        {2048, 48000.0, 50.0, 1800.0, 26, 961},
        {2048, 8000.0, 50.0, 1800.0, 4, 161},
        {2048, 8000.0, 50.0, 5000.0, 2, 161},
        {256, 48000.0, 50.0, 1800.0, 26, 128}, // the window caps the longest lag
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, max " + std::to_string(c.maxHz));
        np::YinFrameAnalyzer yin(c.window, c.rate, c.minHz, c.maxHz);
        EXPECT_EQ(yin.minLag(), c.minLag);
        EXPECT_EQ(yin.maxLag(), c.maxLag);
    }
    EXPECT_THROW(np::YinFrameAnalyzer(1, 48000.0, 50.0, 1800.0), std::invalid_argument);
    EXPECT_THROW(np::YinFrameAnalyzer(2048, 48000.0, 0.0, 1800.0), std::invalid_argument);
}

TEST(YinFrameAnalyzer, SilenceHasNoCandidates) {
    np::YinFrameAnalyzer yin(2048, 48000.0, 50.0, 1800.0);
    const auto zeros = cvtest::silence(2048);
    std::vector<np::YinCandidate> out{{1.0, 1.0}};
    yin.analyze(zeros.data(), out, 0.9);
    EXPECT_TRUE(out.empty());
}

TEST(YinFrameAnalyzer, SineOfIntegerPeriodIsFoundWithItsMultiples) {
    // 240 Hz at 48 kHz: a period of exactly 200 samples.
    np::YinFrameAnalyzer yin(2048, 48000.0, 50.0, 1800.0);
    const auto x = cvtest::sine(240.0, 48000.0, 2048);
    std::vector<np::YinCandidate> out;
    yin.analyze(x.data(), out, 0.9);
    ASSERT_GE(out.size(), 4u);
    EXPECT_LT(std::abs(cvtest::centsBetween(out[0].hz, 240.0)), 0.1);
    EXPECT_LT(out[0].value, 1e-3);
    for (std::size_t k = 1; k < 4; ++k) {
        SCOPED_TRACE(k);
        // Candidates come by increasing lag: the multiples of the period follow.
        EXPECT_LT(std::abs(cvtest::centsBetween(out[k].hz, 240.0 / static_cast<double>(k + 1))), 0.5);
    }
}

TEST(YinFrameAnalyzer, CandidatesAreTheRefinedLocalMinimaOfTheDirectDifference) {
    const int window = 1024;
    const double rate = 44100.0;
    np::YinFrameAnalyzer yin(window, rate, 60.0, 1500.0);
    auto x = cvtest::harmonicTone(173.0, rate, window, 8);
    cvtest::mixInto(x, cvtest::noise(window, 0.05f, 3), 0);
    const std::vector<double> dn = directNormalisedDifference(x, window, yin.maxLag());

    std::vector<np::YinCandidate> expected;
    for (int tau = std::max(2, yin.minLag()); tau + 1 <= yin.maxLag(); ++tau) {
        const auto t = static_cast<std::size_t>(tau);
        if (dn[t] < 0.9 && dn[t - 1] >= dn[t] && dn[t + 1] >= dn[t]) {
            const double den = dn[t - 1] - 2 * dn[t] + dn[t + 1];
            const double shift = 0.5 * (dn[t - 1] - dn[t + 1]) / den;
            expected.push_back(
                {rate / (tau + shift), std::max(0.0, dn[t] - 0.25 * (dn[t - 1] - dn[t + 1]) * shift)});
        }
    }
    std::vector<np::YinCandidate> out;
    yin.analyze(x.data(), out, 0.9);
    ASSERT_EQ(out.size(), expected.size());
    ASSERT_FALSE(out.empty());
    for (std::size_t i = 0; i < out.size(); ++i) {
        SCOPED_TRACE(i);
        // The FFT path differs from the direct sums only by rounding.
        EXPECT_NEAR(out[i].hz, expected[i].hz, 1e-6 * expected[i].hz);
        EXPECT_NEAR(out[i].value, expected[i].value, 1e-9);
    }
}

TEST(YinFrameAnalyzer, ReusedAnalyserGivesTheSameAnswerForTheSameFrame) {
    np::YinFrameAnalyzer yin(2048, 48000.0, 50.0, 1800.0);
    const auto tone = cvtest::harmonicTone(210.0, 48000.0, 2048);
    const auto other = cvtest::noise(2048, 0.5f, 9);
    std::vector<np::YinCandidate> first;
    std::vector<np::YinCandidate> again;
    yin.analyze(tone.data(), first, 0.9);
    yin.analyze(other.data(), again, 0.9);
    yin.analyze(tone.data(), again, 0.9);
    ASSERT_EQ(first.size(), again.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].hz, again[i].hz);
        EXPECT_EQ(first[i].value, again[i].value);
    }
}
