#include "engine/render/vocoder/aperiodicity.h"
#include "engine/render/vocoder/f0_estimation.h"
#include "engine/render/vocoder/spectral_envelope.h"
#include "tests/support/signals.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace {

using namespace np::vocoder;

std::vector<double> toDouble(const std::vector<float>& x) {
    return {x.begin(), x.end()};
}

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

} // namespace

TEST(VocoderFrames, GridAndFftSizeFollowTheRate) {
    // 0.35 s at 44.1 kHz is the audition excerpt: 350 ms / 5 + 1 frames.
    const struct {
        std::int64_t samples;
        int rate, frames;
    } grids[] = {{0, 48000, 1}, {239, 48000, 1}, {240, 48000, 2}, {48000, 48000, 201}, {15435, 44100, 71}};
    for (const auto& g : grids)
        EXPECT_EQ(frameCount(g.samples, g.rate), g.frames) << g.samples << " at " << g.rate;
    // 3 fs / 71 + 1 reaches 1024 exactly at 24211 Hz: the floor of its log2 steps there.
    const struct {
        int rate, size;
    } sizes[] = {{8000, 512},   {24210, 1024}, {24211, 2048},  {44100, 2048},
                 {48000, 2048}, {96000, 4096}, {192000, 8192}, {384000, 16384}};
    for (const auto& s : sizes)
        EXPECT_EQ(fftSizeForRate(s.rate), s.size) << s.rate;
}

TEST(VocoderF0, FollowsVibratoAndGlideAndFindsNoVoiceInNoise) {
    // The tracker's 43 ms window flattens a 5.5 Hz vibrato by about a tenth of its depth and lags a
    // glide of an octave in half a second by a few cents. An octave in a quarter second at 110 Hz
    // defeats the long window altogether: the second, shorter pass must keep it voiced.
    const struct {
        int rate;
        double fromHz, toHz, vibratoCents, seconds, toleranceCents;
    } cases[] = {{48000, 220.0, 220.0, 50.0, 0.5, 8.0},
                 {44100, 150.0, 300.0, 0.0, 0.5, 10.0},
                 {8000, 300.0, 300.0, 30.0, 0.5, 8.0},
                 {48000, 110.0, 220.0, 0.0, 0.25, 15.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz rate, from " << c.fromHz << " Hz");
        const auto samples = static_cast<std::int64_t>(c.seconds * c.rate);
        const std::vector<double> f0 = estimateF0(
            toDouble(cvtest::vowel(c.fromHz, c.toHz, c.vibratoCents, 5.5, c.rate, samples)), c.rate);
        ASSERT_EQ(f0.size(), static_cast<std::size_t>(frameCount(samples, c.rate)));
        for (std::size_t i = 4; i + 4 < f0.size(); ++i) {
            const double t = static_cast<double>(i) * kFramePeriodMs / 1000.0;
            const double along = t * c.rate / static_cast<double>(samples - 1);
            const double truth =
                c.fromHz * std::pow(c.toHz / c.fromHz, along) *
                std::pow(2.0, c.vibratoCents * std::sin(2.0 * std::numbers::pi * 5.5 * t) / 1200.0);
            ASSERT_GT(f0[i], 0.0) << "frame " << i;
            EXPECT_NEAR(cvtest::centsBetween(f0[i], truth), 0.0, c.toleranceCents) << "frame " << i;
        }
    }
    // Noise, silence and a near-empty signal have no voiced frame.
    for (const auto& x : {cvtest::noise(24000, 0.3f, 5), cvtest::silence(24000), cvtest::silence(1)}) {
        const std::vector<double> f0 = estimateF0(toDouble(x), 48000);
        EXPECT_TRUE(std::all_of(f0.begin(), f0.end(), [](double f) { return f == 0.0; }));
    }
}

TEST(VocoderEnvelope, MatchesTrueHarmonicLevelsAndNoisePower) {
    for (const int rate : {48000, 44100}) {
        for (const double hz : {100.0, 220.0, 400.0}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz rate, F0 " << hz);
            const std::vector<double> x = toDouble(cvtest::vowel(hz, hz, 0.0, 0.0, rate, rate / 4));
            const std::vector<double> f0(static_cast<std::size_t>(frameCount(rate / 4, rate)), hz);
            const FrameSpectra e = estimateSpectralEnvelope(x, rate, f0);
            ASSERT_EQ(e.fftSize, fftSizeForRate(rate));
            const std::span<const double> middle = e.frame(e.frames / 2);
            // A harmonic of amplitude a carries a^2 T0 / 4 of power density (T0 in samples).
            const auto errorDb = [&](double f) {
                const double bin = f * e.fftSize / rate;
                const auto k = static_cast<std::size_t>(bin);
                const double estimate =
                    middle[k] + (bin - static_cast<double>(k)) * (middle[k + 1] - middle[k]);
                return 10.0 * std::log10(estimate * 4.0 * hz / rate) -
                       20.0 * std::log10(0.1 * cvtest::vowelAmplitude(f));
            };
            double sum = 0.0, squares = 0.0;
            int count = 0;
            for (double f = hz; f < 5000.0; f += hz, ++count) {
                sum += errorDb(f);
                squares += errorDb(f) * errorDb(f);
            }
            // Below F0, where a shift down will read it, the envelope carries on at the level of the
            // lowest harmonics instead of dipping to the floor between them and 0 Hz.
            for (double f = 50.0; f < hz; f += 50.0)
                EXPECT_NEAR(errorDb(f), 0.0, 3.0) << f << " Hz";
            EXPECT_LT(std::abs(sum / count), 1.0);
            EXPECT_LT(std::sqrt(squares / count), 1.5);
        }
    }
    // White noise of variance 1/12, analysed as unvoiced: its variance in every bin.
    const std::vector<double> noise = toDouble(cvtest::noise(12000, 0.5f, 9));
    const FrameSpectra e = estimateSpectralEnvelope(noise, 48000, std::vector<double>(51, 0.0));
    std::vector<double> db;
    for (int i = 10; i < e.frames - 10; ++i)
        for (const double p : e.frame(i))
            db.push_back(10.0 * std::log10(p * 12.0));
    EXPECT_NEAR(median(db), 0.0, 1.5);
}

TEST(VocoderAperiodicity, NearZeroOnHarmonicsNearOneOnNoiseAndUnvoicedFrames) {
    const int rate = 48000;
    const std::vector<double> x = toDouble(cvtest::vowel(220.0, 220.0, 50.0, 5.5, rate, rate / 2));
    const FrameSpectra vowel = estimateAperiodicity(x, rate, estimateF0(x, rate));
    std::vector<double> low;
    for (int i = 10; i < vowel.frames - 10; ++i)
        for (int k = 2; k * rate < 4000 * vowel.fftSize; ++k)
            low.push_back(vowel.frame(i)[static_cast<std::size_t>(k)]);
    EXPECT_LT(median(low), 0.01);

    // Noise read as if it were voiced at 220 Hz: its between-harmonic bins hold as much as the rest.
    const std::vector<double> noise = toDouble(cvtest::noise(rate / 2, 0.3f, 3));
    std::vector<double> f0(static_cast<std::size_t>(frameCount(rate / 2, rate)), 220.0);
    f0[50] = 0.0;
    const FrameSpectra a = estimateAperiodicity(noise, rate, f0);
    double sum = 0.0;
    for (int i = 10; i < a.frames - 10; ++i)
        for (const double v : a.frame(i))
            sum += v;
    EXPECT_GT(sum / ((a.frames - 20) * a.bins()), 0.8);
    const std::span<const double> unvoiced = a.frame(50);
    EXPECT_TRUE(std::all_of(unvoiced.begin(), unvoiced.end(), [](double v) { return v == 1.0; }));

    // A breathy voice analysed at its 220 Hz: ten harmonics (up to 2.2 kHz) over noise rising 24 dB an
    // octave (four first differences), strong only far above them. Each band keeps its own measure:
    // near zero between 1.2 and 2 kHz, near one between 6 and 12 kHz.
    std::vector<double> breathy = toDouble(cvtest::harmonicTone(220.0, rate, rate / 2, 10));
    std::vector<double> hiss = toDouble(cvtest::noise(rate / 2 + 4, 0.02f, 5));
    for (int pass = 0; pass < 4; ++pass)
        for (std::size_t i = 0; i + 1 < hiss.size(); ++i)
            hiss[i] = hiss[i + 1] - hiss[i];
    for (std::size_t i = 0; i < breathy.size(); ++i)
        breathy[i] += hiss[i];
    const FrameSpectra b = estimateAperiodicity(breathy, rate, std::vector<double>(f0.size(), 220.0));
    const auto bandMedian = [&](double fromHz, double toHz) {
        std::vector<double> values;
        for (int i = 10; i < b.frames - 10; ++i)
            for (int k = static_cast<int>(fromHz * b.fftSize / rate);
                 k < static_cast<int>(toHz * b.fftSize / rate); ++k)
                values.push_back(b.frame(i)[static_cast<std::size_t>(k)]);
        return median(values);
    };
    EXPECT_LT(bandMedian(1200.0, 2000.0), 0.1);
    EXPECT_GT(bandMedian(6000.0, 12000.0), 0.5);
}

TEST(VocoderAnalysis, RefusesRatesAndTracksThatDoNotFit) {
    const std::vector<double> x(4800, 0.0);
    const std::vector<double> f0(static_cast<std::size_t>(frameCount(4800, 48000)), 0.0);
    EXPECT_THROW(estimateF0(x, 7999), std::invalid_argument);
    EXPECT_THROW(estimateSpectralEnvelope(x, 384001, f0), std::invalid_argument);
    EXPECT_THROW(estimateAperiodicity(x, 48000, std::span(f0).first(f0.size() - 1)), std::invalid_argument);
}
