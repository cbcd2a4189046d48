#include "engine/analysis/yin.h"
#include "tests/support/signals.h"

#include <cmath>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

TEST(YinFrameAnalyzer, LagRangeFollowsRateAndPitchBounds) {
    // {window, rate, maxHz, minLag, maxLag}: never below a lag of 2, and the window caps the longest.
    for (const auto& [window, rate, maxHz, minLag, maxLag] :
         {std::tuple{2048, 48000.0, 1800.0, 26, 961}, std::tuple{2048, 8000.0, 1800.0, 4, 161},
          std::tuple{2048, 8000.0, 5000.0, 2, 161}, std::tuple{256, 48000.0, 1800.0, 26, 128}}) {
        np::YinFrameAnalyzer yin(window, rate, 50.0, maxHz);
        EXPECT_EQ(yin.minLag(), minLag) << rate << " Hz, window " << window;
        EXPECT_EQ(yin.maxLag(), maxLag) << rate << " Hz, window " << window;
    }
    EXPECT_THROW(np::YinFrameAnalyzer(1, 48000.0, 50.0, 1800.0), std::invalid_argument);
    EXPECT_THROW(np::YinFrameAnalyzer(2048, 48000.0, 0.0, 1800.0), std::invalid_argument);
}

TEST(YinFrameAnalyzer, CandidatesAreTheRefinedLocalMinimaOfTheDirectDifference) {
    const int window = 1024;
    const double rate = 44100.0;
    np::YinFrameAnalyzer yin(window, rate, 60.0, 1500.0);
    auto x = cvtest::harmonicTone(173.0, rate, window, 8);
    cvtest::mixInto(x, cvtest::noise(window, 0.05f, 3), 0);

    // The normalised difference straight from its definition, an independent reference for the FFT path.
    const auto maxLag = static_cast<std::size_t>(yin.maxLag());
    std::vector<double> dn(maxLag + 1, 1.0);
    double running = 0.0;
    for (std::size_t tau = 1; tau <= maxLag; ++tau) {
        double d = 0.0;
        for (std::size_t i = 0; i + tau < window; ++i)
            d += std::pow(static_cast<double>(x[i]) - x[i + tau], 2);
        running += d;
        dn[tau] = d * static_cast<double>(tau) / running;
    }
    std::vector<np::YinCandidate> expected;
    for (auto t = static_cast<std::size_t>(yin.minLag()); t + 1 <= maxLag; ++t) {
        if (dn[t] < 0.9 && dn[t - 1] >= dn[t] && dn[t + 1] >= dn[t]) {
            const double shift = 0.5 * (dn[t - 1] - dn[t + 1]) / (dn[t - 1] - 2 * dn[t] + dn[t + 1]);
            expected.push_back({rate / (static_cast<double>(t) + shift),
                                std::max(0.0, dn[t] - 0.25 * (dn[t - 1] - dn[t + 1]) * shift)});
        }
    }

    // A reused analyser: nothing may carry over between frames, and silence leaves no candidates in
    // a vector that held some.
    std::vector<np::YinCandidate> out;
    yin.analyze(x.data(), out, 0.9);
    ASSERT_FALSE(out.empty());
    yin.analyze(cvtest::silence(window).data(), out, 0.9);
    EXPECT_TRUE(out.empty());
    yin.analyze(cvtest::noise(window, 0.5f, 9).data(), out, 0.9);
    yin.analyze(x.data(), out, 0.9);
    ASSERT_GE(expected.size(), 2u); // the period and its double, by increasing lag
    ASSERT_EQ(out.size(), expected.size());
    EXPECT_LT(std::abs(cvtest::centsBetween(out[0].hz, 173.0)), 5.0);
    for (std::size_t i = 0; i < out.size(); ++i) {
        SCOPED_TRACE(i);
        // The FFT path differs from the direct sums only by rounding.
        EXPECT_NEAR(out[i].hz, expected[i].hz, 1e-6 * expected[i].hz);
        EXPECT_NEAR(out[i].value, expected[i].value, 1e-9);
    }
}
