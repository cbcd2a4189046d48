#include "engine/render/vocoder/synthesis.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

using namespace np::vocoder;

constexpr int kRate = 48000;
const int kFft = fftSizeForRate(kRate);
const int kBins = kFft / 2 + 1;

// Frames that all share one envelope and one aperiodicity (as a frozen audition frame does).
struct HeldFrames {
    std::vector<double> f0;
    std::vector<double> envelope, aperiodicity;
    std::vector<const double*> envelopes, aperiodicities;

    HeldFrames(int frames, double hz, double power, double share)
        : f0(static_cast<std::size_t>(frames), hz), envelope(static_cast<std::size_t>(kBins), power),
          aperiodicity(static_cast<std::size_t>(kBins), share),
          envelopes(static_cast<std::size_t>(frames), envelope.data()),
          aperiodicities(static_cast<std::size_t>(frames), aperiodicity.data()) {}

    SynthesisFrames frames() const { return {f0, envelopes, aperiodicities, kFft}; }
};

double meanPower(const std::vector<double>& y, std::size_t from, std::size_t to) {
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i)
        sum += y[i] * y[i];
    return sum / static_cast<double>(to - from);
}

// Normalised autocorrelation at lag over y[from, to).
double correlation(const std::vector<double>& y, std::size_t from, std::size_t to, std::size_t lag) {
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (std::size_t i = from; i + lag < to; ++i) {
        xy += y[i] * y[i + lag];
        xx += y[i] * y[i];
        yy += y[i + lag] * y[i + lag];
    }
    return xy / std::sqrt(xx * yy);
}

} // namespace

TEST(VocoderSynthesis, FlatEnvelopeGivesItsPowerAtAnyPitch) {
    // A flat envelope of power 1 means unit power, whether it comes from pulses (sqrt(T0) each) at
    // any F0, from noise on unvoiced frames, or half from each.
    const struct {
        double hz, share, toleranceDb;
    } cases[] = {{55.0, 0.0, 0.2}, {220.0, 0.0, 0.2}, {1760.0, 0.0, 0.4}, {0.0, 0.3, 0.2}, {220.0, 0.5, 0.2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hz << " Hz, aperiodicity " << c.share);
        const HeldFrames held(201, c.hz, 1.0, c.share);
        const std::vector<double> y = synthesize(held.frames(), kRate, kRate);
        EXPECT_NEAR(10.0 * std::log10(meanPower(y, kRate / 4, 3 * kRate / 4)), 0.0, c.toleranceDb);
    }
}

TEST(VocoderSynthesis, PeriodicOnlyWhereVoicedAndPeriodic) {
    // Voiced and periodic: strongly periodic at the period; unvoiced, or voiced but all aperiodic:
    // noise, however the pulses would have fallen.
    const struct {
        double hz, share;
        bool periodic;
    } cases[] = {{200.0, 0.0, true}, {0.0, 0.0, false}, {200.0, 1.0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hz << " Hz, aperiodicity " << c.share);
        const HeldFrames held(101, c.hz, 1.0, c.share);
        const std::vector<double> y = synthesize(held.frames(), kRate, kRate / 2);
        const double r = correlation(y, 4800, 19200, 240);
        if (c.periodic) {
            EXPECT_GT(r, 0.95);
        } else {
            EXPECT_LT(std::abs(r), 0.1);
        }
    }
}

// Between two frames the F0 moves linearly, so each pulse lies where the phase of that contour, counted
// from the first pulse on the first sample, completes a cycle. A glide of two octaves in 0.1 s (up to
// 56 Hz from one frame to the next) on a flat envelope (each pulse a band-limited impulse): every
// pulse peaks within half a sample of its place (an eighth, as a parabola reads the peak); weights of
// the two frames swapped move the pulses in the middle of each frame by up to 5 samples.
TEST(VocoderSynthesis, PulsesFollowTheContourBetweenFrames) {
    constexpr int kLength = 7200;
    HeldFrames held(32, 0.0, 1.0, 0.0);
    for (std::size_t j = 0; j < held.f0.size(); ++j)
        held.f0[j] = 200.0 * std::exp2(2.0 * std::min(1.0, static_cast<double>(j) / 20.0));
    const std::vector<double> y = synthesize(held.frames(), kRate, kLength);
    const double period = framePeriodSamples(kRate);
    double phase = 0.0, worst = 0.0;
    for (int n = 0; n + 10 < kLength; ++n) {
        const double u = n / period;
        const auto j = static_cast<std::size_t>(u);
        const double step = ((1.0 - (u - j)) * held.f0[j] + (u - j) * held.f0[j + 1]) / kRate;
        if (phase + step < 1.0) {
            phase += step;
            continue;
        }
        const double expected = n + (1.0 - phase) / step;
        phase += step - 1.0;
        if (expected < 10.0)
            continue;
        // The peak nearest the expected place, refined by a parabola through its neighbours.
        auto at = static_cast<std::size_t>(std::lround(expected));
        for (std::size_t i = at - 5; i <= at + 5; ++i)
            if (y[i] > y[at])
                at = i;
        const double curvature = y[at - 1] - 2.0 * y[at] + y[at + 1];
        const double peak = static_cast<double>(at) + 0.5 * (y[at - 1] - y[at + 1]) / curvature;
        worst = std::max(worst, std::abs(peak - expected));
    }
    EXPECT_LT(worst, 0.5);
}

TEST(VocoderSynthesis, ExactLengthAndBitIdenticalRepeats) {
    // 44.1 kHz has a fractional frame period; lengths past the last frame repeat it.
    for (const std::int64_t length : {0, 1, 2205, 50000}) {
        SCOPED_TRACE(length);
        const HeldFrames held(11, 150.0, 1.0, 0.2);
        const std::vector<double> a = synthesize(held.frames(), 44100, length);
        ASSERT_EQ(a.size(), static_cast<std::size_t>(length));
        EXPECT_EQ(synthesize(held.frames(), 44100, length), a);
        if (length > 1000) {
            EXPECT_NE(synthesize(held.frames(), 44100, length, kDefaultNoiseSeed + 1), a);
        }
    }
}

TEST(VocoderSynthesis, HostileValuesGiveFiniteOutput) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    HeldFrames held(8, 0.0, 1.0, 0.5);
    held.f0 = {nan, -50.0, inf, 1e9, 0.001, 220.0, 220.0, 0.0};
    std::vector<double> wild(static_cast<std::size_t>(kBins));
    for (std::size_t k = 0; k < wild.size(); ++k)
        wild[k] = std::vector<double>{nan, inf, -1.0, 0.0, 1e300, 1e-300}[k % 6];
    std::vector<double> wildShare = wild;
    wildShare[7] = 5.0;
    held.envelopes[5] = wild.data();
    held.aperiodicities[6] = wildShare.data();
    const std::vector<double> y = synthesize(held.frames(), kRate, 2400);
    for (const double v : y)
        ASSERT_TRUE(std::isfinite(v));
}

TEST(VocoderSynthesis, RefusesMalformedFrames) {
    HeldFrames held(4, 100.0, 1.0, 0.0);
    EXPECT_THROW(synthesize(held.frames(), 7999, 100), std::invalid_argument);
    EXPECT_THROW(synthesize(held.frames(), kRate, -1), std::invalid_argument);
    SynthesisFrames f = held.frames();
    f.fftSize = 1000;
    EXPECT_THROW(synthesize(f, kRate, 100), std::invalid_argument);
    f = held.frames();
    f.aperiodicities = f.aperiodicities.first(3);
    EXPECT_THROW(synthesize(f, kRate, 100), std::invalid_argument);
    held.envelopes[2] = nullptr;
    EXPECT_THROW(synthesize(held.frames(), kRate, 100), std::invalid_argument);
}
