// Quality of an analysis and resynthesis on synthetic voiced material whose true F0 is known at every
// instant: a vowel with vibrato, a consonant-like noise burst, and a vowel glide.

#include "engine/analysis/pyin.h"
#include "engine/render/vocoder/aperiodicity.h"
#include "engine/render/vocoder/f0_estimation.h"
#include "engine/render/vocoder/spectral_envelope.h"
#include "engine/render/vocoder/synthesis.h"
#include "tests/support/signals.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace {

using namespace np::vocoder;

constexpr double kVowelEnd = 0.6, kBurstEnd = 0.68, kEnd = 1.3;
constexpr double kGlideFromHz = 180.0, kGlideToHz = 270.0; // 7 semitones in 0.62 s

double trueF0(double t) {
    if (t < kVowelEnd)
        return 220.0 * std::pow(2.0, 50.0 * std::sin(2.0 * std::numbers::pi * 5.5 * t) / 1200.0);
    if (t < kBurstEnd)
        return 0.0;
    return kGlideFromHz * std::pow(kGlideToHz / kGlideFromHz, (t - kBurstEnd) / (kEnd - kBurstEnd));
}

std::vector<double> material(int rate) {
    const auto at = [&](double seconds) { return static_cast<std::int64_t>(seconds * rate); };
    std::vector<float> x = cvtest::vowel(220.0, 220.0, 50.0, 5.5, rate, at(kVowelEnd));
    x.resize(static_cast<std::size_t>(at(kEnd)), 0.0f);
    cvtest::mixInto(x, cvtest::noise(at(kBurstEnd) - at(kVowelEnd), 0.05f, 11), at(kVowelEnd));
    cvtest::mixInto(x, cvtest::vowel(kGlideFromHz, kGlideToHz, 0.0, 0.0, rate, at(kEnd) - at(kBurstEnd)),
                    at(kBurstEnd));
    return {x.begin(), x.end()};
}

// x analysed and resynthesised with the true F0.
std::vector<double> resynthesize(const std::vector<double>& x, int rate) {
    const std::vector<double> estimated = estimateF0(x, rate);
    const FrameSpectra envelope = estimateSpectralEnvelope(x, rate, estimated);
    const FrameSpectra aperiodicity = estimateAperiodicity(x, rate, estimated);
    std::vector<double> f0;
    std::vector<const double*> envelopes, aperiodicities;
    for (int i = 0; i < envelope.frames; ++i) {
        f0.push_back(trueF0(i * kFramePeriodMs / 1000.0));
        envelopes.push_back(envelope.frame(i).data());
        aperiodicities.push_back(aperiodicity.frame(i).data());
    }
    return synthesize({f0, envelopes, aperiodicities, envelope.fftSize}, rate,
                      static_cast<std::int64_t>(x.size()));
}

np::PitchTrack track(const std::vector<double>& x, int rate, const np::PYinConfig& config) {
    const std::vector<float> mono(x.begin(), x.end());
    return np::trackPitchPYin(mono.data(), static_cast<std::int64_t>(mono.size()), rate, config, {});
}

// Tracker frames whose window lies inside one voiced segment, 20 ms clear of its edges.
bool inside(std::size_t k, const np::PYinConfig& config, int rate) {
    const double start = static_cast<double>(k * config.hop) / rate - 0.02;
    const double end = start + 0.04 + static_cast<double>(config.frame) / rate;
    return (start >= 0.0 && end <= kVowelEnd) || (start >= kBurstEnd && end <= kEnd);
}

double powerDb(const std::vector<double>& x, double from, double to, int rate) {
    double sum = 0.0;
    const auto a = static_cast<std::size_t>(from * rate), b = static_cast<std::size_t>(to * rate);
    for (std::size_t i = a; i < b; ++i)
        sum += x[i] * x[i];
    return 10.0 * std::log10(sum / static_cast<double>(b - a));
}

} // namespace

TEST(VocoderResynthesis, KeepsPitchLevelAndEnvelope) {
    // At 44.1 kHz, whose frame period is fractional; the vocoder engine's tests shift at 48 kHz.
    const int rate = 44100;
    const std::vector<double> x = material(rate);
    const std::vector<double> y = resynthesize(x, rate);
    ASSERT_EQ(y.size(), x.size());

    // The input carries the requested F0 exactly, so our tracker reads the same contour from input
    // and output, its own smoothing of vibrato and glide included; what differs is the synthesis's.
    const np::PYinConfig config;
    const np::PitchTrack in = track(x, rate, config), out = track(y, rate, config);
    int compared = 0;
    for (std::size_t k = 0; k < in.frames.size(); ++k) {
        if (!inside(k, config, rate))
            continue;
        ASSERT_TRUE(in.frames[k].voiced && out.frames[k].voiced) << "frame " << k;
        EXPECT_NEAR(cvtest::centsBetween(out.frames[k].hz, in.frames[k].hz), 0.0, 5.0) << "frame " << k;
        ++compared;
    }
    EXPECT_GT(compared, 150);

    // Level of the vowel, the middle of the burst and the glide.
    for (const auto& [from, to] : {std::pair{0.05, 0.55}, std::pair{0.62, 0.66}, std::pair{0.75, 1.25}})
        EXPECT_NEAR(powerDb(y, from, to, rate), powerDb(x, from, to, rate), 1.0) << from << " s";

    // Envelope of input and output, both read with the true F0, 100 Hz to 5 kHz on voiced frames.
    std::vector<double> f0;
    for (int i = 0; i < frameCount(static_cast<std::int64_t>(x.size()), rate); ++i)
        f0.push_back(trueF0(i * kFramePeriodMs / 1000.0));
    const FrameSpectra a = estimateSpectralEnvelope(x, rate, f0), b = estimateSpectralEnvelope(y, rate, f0);
    double squares = 0.0;
    int count = 0;
    for (int i = 0; i < a.frames; ++i) {
        const double t = i * kFramePeriodMs / 1000.0;
        if (f0[static_cast<std::size_t>(i)] == 0.0 || std::abs(t - kVowelEnd) < 0.03 ||
            std::abs(t - kBurstEnd) < 0.03)
            continue;
        for (int k = 100 * a.fftSize / rate + 1; k <= 5000 * a.fftSize / rate; ++k) {
            const double db = 10.0 * std::log10(b.frame(i)[static_cast<std::size_t>(k)] /
                                                a.frame(i)[static_cast<std::size_t>(k)]);
            squares += db * db;
            ++count;
        }
    }
    EXPECT_LT(std::sqrt(squares / count), 3.0);
}
