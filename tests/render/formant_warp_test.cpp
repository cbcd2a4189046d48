#include "engine/render/formant_warp.h"
#include "engine/render/spectral_envelope.h"
#include "tests/render/render_measures.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/signals.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <new>
#include <numbers>
#include <stdexcept>
#include <utility>
#include <vector>

namespace np {
namespace {

constexpr double kRate = 48000.0;
constexpr double kF0 = 120.0; // a pulse train of period 400

// Catches a wrong sign, a wrong twiddle or a scaling where none belongs.
TEST(SpectralEnvelope, RadixTwoFftMatchesTheDirectTransform) {
    for (const std::size_t n : {2u, 8u, 64u}) {
        std::vector<std::complex<float>> x(n);
        for (std::size_t i = 0; i < n; ++i)
            x[i] = {std::sin(0.7f * static_cast<float>(i)) + 0.1f * static_cast<float>(i),
                    std::cos(1.3f * static_cast<float>(i))};
        for (const bool inverse : {false, true}) {
            SCOPED_TRACE(testing::Message() << n << (inverse ? " inverse" : " forward"));
            std::vector<std::complex<float>> fast = x;
            fftRadix2(fast, inverse);
            const double sign = inverse ? 1.0 : -1.0;
            for (std::size_t k = 0; k < n; ++k) {
                std::complex<double> direct = 0.0;
                for (std::size_t i = 0; i < n; ++i)
                    direct += std::complex<double>(x[i]) *
                              std::polar(1.0, sign * 2.0 * std::numbers::pi * static_cast<double>(k * i) /
                                                  static_cast<double>(n));
                EXPECT_NEAR(fast[k].real(), direct.real(), 1e-4);
                EXPECT_NEAR(fast[k].imag(), direct.imag(), 1e-4);
            }
        }
    }
    std::vector<std::complex<float>> twelve(12);
    EXPECT_THROW(fftRadix2(twelve, false), std::invalid_argument);
}

// The radix-2 transform in plain std::complex arithmetic, butterfly by butterfly: what the fast
// transform must reproduce bit for bit, so that the renders built on it keep their exact output.
void plainRadixTwo(std::vector<std::complex<float>>& data, bool inverse) {
    const std::size_t n = data.size();
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t reversed = 0;
        for (std::size_t bit = 1; bit < n; bit <<= 1)
            reversed = (reversed << 1) | ((i & bit) != 0 ? 1 : 0);
        if (i < reversed)
            std::swap(data[i], data[reversed]);
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const std::complex<double> step =
            std::polar(1.0, (inverse ? 2.0 : -2.0) * std::numbers::pi / static_cast<double>(length));
        std::complex<double> twiddle = 1.0;
        for (std::size_t j = 0; j < length / 2; ++j, twiddle *= step) {
            for (std::size_t i = j; i < n; i += length) {
                const std::complex<float> a = data[i],
                                          b = data[i + length / 2] * std::complex<float>(twiddle);
                data[i] = a + b;
                data[i + length / 2] = a - b;
            }
        }
    }
}

// Catches butterflies that round differently from complex arithmetic (an operand order, a fused
// product), twiddle tables kept for the wrong length or direction, and the fast path taken where
// infinities arise (from an infinite input, or from values near the float limit that overflow).
TEST(SpectralEnvelope, RadixTwoFftIsBitForBitPlainComplexArithmetic) {
    struct Row {
        const char* name;
        float scale;    // of the ordinary values
        float infinite; // written over one value when not 0
    };
    const Row rows[] = {
        {"ordinary", 1.0f, 0.0f}, {"an infinity", 1.0f, -INFINITY}, {"near the limit", 3e37f, 0.0f}};
    for (const Row& row : rows) {
        for (const std::size_t n : {2u, 4u, 2048u, 16u, 2048u}) {
            std::vector<std::complex<float>> x(n);
            for (std::size_t i = 0; i < n; ++i)
                x[i] = row.scale * std::complex<float>(std::sin(0.37f * static_cast<float>(i * i % 97)),
                                                       std::cos(1.3f * static_cast<float>(i)));
            if (row.infinite != 0.0f)
                x[n / 2 - 1] = {row.infinite, 0.5f};
            for (const bool inverse : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << row.name << ", " << n << (inverse ? " inverse" : " forward"));
                std::vector<std::complex<float>> fast = x, plain = x;
                fftRadix2(fast, inverse);
                plainRadixTwo(plain, inverse);
                for (std::size_t k = 0; k < n; ++k) {
                    for (const auto& [f, p] : {std::pair(fast[k].real(), plain[k].real()),
                                               std::pair(fast[k].imag(), plain[k].imag())}) {
                        // NaNs match whatever their sign bits.
                        if (!(std::isnan(f) && std::isnan(p))) {
                            ASSERT_EQ(std::bit_cast<std::uint32_t>(f), std::bit_cast<std::uint32_t>(p)) << k;
                        }
                    }
                }
            }
        }
    }
}

// Catches tables left marked for their old length when making them for another runs out of memory
// halfway: the next transform of the old length would swap by the other length's pairs.
TEST(SpectralEnvelope, RadixTwoFftStaysExactAfterItsTablesFailedToGrow) {
    if (!cvtest::allocationFailuresSupported())
        GTEST_SKIP() << "allocation cannot be made to fail in this build";
    std::vector<std::complex<float>> x(16);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = {std::sin(0.37f * static_cast<float>(i)), std::cos(1.3f * static_cast<float>(i))};
    std::vector<std::complex<float>> fast = x, plain = x;
    fftRadix2(fast, false);
    // Longer than any transform before, so that its tables must grow.
    std::vector<std::complex<float>> longer(65536);
    cvtest::failAllocationsOnThisThread(1);
    EXPECT_THROW(fftRadix2(longer, false), std::bad_alloc);
    cvtest::failAllocationsOnThisThread(0);
    fast = x;
    fftRadix2(fast, false);
    plainRadixTwo(plain, false);
    for (std::size_t k = 0; k < x.size(); ++k)
        EXPECT_EQ(fast[k], plain[k]) << k;
}

// A spike at bin 1 and one at bin n - 2 spread over +-h bins, across the ends of the spectrum. Catches a
// moving RMS that does not wrap, or wraps one bin off, at either end.
TEST(SpectralEnvelope, SmoothingWrapsAroundBothEndsOfTheSpectrum) {
    const std::size_t n = 64;
    const int h = 3;
    std::vector<float> magnitudes(n, 0.0f), envelope;
    std::vector<std::complex<float>> work;
    magnitudes[1] = 3.0f;
    magnitudes[n - 2] = 2.0f;
    cepstralLogEnv(magnitudes, envelope, work, 8, h);
    const auto near = [&](std::size_t k, std::size_t spike) {
        const std::size_t d = k > spike ? k - spike : spike - k;
        return std::min(d, n - d) <= static_cast<std::size_t>(h);
    };
    for (std::size_t k = 0; k < n; ++k) {
        const double power = (near(k, 1) ? 9.0 : 0.0) + (near(k, n - 2) ? 4.0 : 0.0);
        EXPECT_NEAR(magnitudes[k], std::sqrt(power / (2 * h + 1)), 1e-6) << k;
    }
}

// A log spectrum that is one cosine has a cepstrum at quefrency 1 only: a lifter of 2 keeps it whole, a
// lifter of 1 keeps only the mean. Catches a missing 1/N, a lifter off by one and a wrong floor.
TEST(SpectralEnvelope, CepstralEnvelopeKeepsQuefrenciesBelowTheLifter) {
    const std::size_t n = 256;
    std::vector<float> magnitudes(n), envelope;
    std::vector<std::complex<float>> work;
    const auto logCosine = [&](std::size_t k) {
        return 1.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(k) / n);
    };
    for (std::size_t k = 0; k < n; ++k)
        magnitudes[k] = static_cast<float>(std::exp(logCosine(k)));
    std::vector<float> copy = magnitudes;
    const float floor = cepstralLogEnv(copy, envelope, work, 2, 0);
    EXPECT_NEAR(floor, std::log(0.001 * std::exp(1.5)), 1e-5);
    for (std::size_t k = 0; k < n; ++k)
        EXPECT_NEAR(envelope[k], logCosine(k), 1e-4) << k;
    copy = magnitudes;
    cepstralLogEnv(copy, envelope, work, 1, 0);
    for (std::size_t k = 0; k < n; ++k)
        EXPECT_NEAR(envelope[k], 0.0, 1e-4) << k;
}

// A voice-like source: a pulse train at kF0 (flat harmonics) through a resonance at 1000 Hz.
std::vector<float> formantVoice(std::int64_t frames) {
    const auto period = static_cast<std::int64_t>(kRate / kF0);
    const double r = std::exp(-std::numbers::pi * 250.0 / kRate);
    const double a1 = 2.0 * r * std::cos(2.0 * std::numbers::pi * 1000.0 / kRate), a2 = -r * r;
    std::vector<float> out(static_cast<std::size_t>(frames));
    double y1 = 0.0, y2 = 0.0;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double y = (i % period == 0 ? 0.5 : 0.0) + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        out[static_cast<std::size_t>(i)] = static_cast<float>(y);
    }
    return out;
}

// The frequency of the envelope peak below 1800 Hz: a parabola through the strongest harmonic's level
// and its neighbours' in dB.
double firstFormantHz(std::span<const float> x, double f0) {
    const auto level = [&](int k) {
        std::complex<double> sum = 0.0;
        const std::int64_t from = 8192, length = 16384;
        for (std::int64_t i = from; i < from + length; ++i) {
            const double hann =
                0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i - from) / length);
            sum += hann * x[static_cast<std::size_t>(i)] *
                   std::polar(1.0, -2.0 * std::numbers::pi * k * f0 * static_cast<double>(i) / kRate);
        }
        return 20.0 * std::log10(std::abs(sum));
    };
    int best = 2;
    for (int k = 2; k * f0 < 1800.0; ++k)
        if (level(k) > level(best))
            best = k;
    const double a = level(best - 1), b = level(best), c = level(best + 1);
    return (best + 0.5 * (a - c) / (a - 2.0 * b + c)) * f0;
}

struct WarpFixture {
    std::vector<float> voice = formantVoice(26000);
    Document doc = cvtest::spanDocument({voice}, kRate, kF0);
    std::vector<double> zeroCents = std::vector<double>(200, 0.0);

    AudioBuffer warped(AudioBuffer out, const std::vector<double>* formantCents) const {
        FormantWarpParams params;
        params.formantCents = formantCents;
        params.pitchCents = &zeroCents;
        params.track = &doc.track;
        applyFormantWarp(out, *doc.audio, params);
        return out;
    }
};

// Catches gains that are not 1 when nothing changes, and frames overlapped without their weights.
TEST(FormantWarp, LeavesTheSourceItselfUnchangedAndShortOutputAlone) {
    const WarpFixture f;
    const AudioBuffer out = f.warped(*f.doc.audio, &f.zeroCents);
    for (std::size_t i = 0; i < f.voice.size(); ++i)
        ASSERT_NEAR(out.samples[i], f.voice[i], 1e-5) << i;

    AudioBuffer shortOut = AudioBuffer::fromInterleaved(f.voice.data(), 1, 2047);
    const std::vector<double> shift(200, 300.0);
    EXPECT_EQ(f.warped(shortOut, &shift).samples, shortOut.samples);
}

// Catches a warp in the wrong direction or by the wrong amount.
TEST(FormantWarp, AFormantShiftMovesTheEnvelopeAtTheSamePitch) {
    const WarpFixture f;
    const std::vector<double> up(200, 300.0);
    const AudioBuffer out = f.warped(*f.doc.audio, &up);
    const double before = firstFormantHz(f.voice, kF0), after = firstFormantHz(out.channel(0), kF0);
    EXPECT_NEAR(after / before, std::exp2(3.0 / 12.0), 0.05 * std::exp2(3.0 / 12.0))
        << before << " -> " << after;
    EXPECT_NEAR(cvtest::frequencyNear(out.channel(0), kRate, 13000, kF0, 8192, 256), kF0, 0.01);
}

// Catches corrections without their limits: the output may come at most a factor 3 (8 with a formant
// shift) closer to a source envelope far above it, and 3 (16) below.
TEST(FormantWarp, CorrectionsStayWithinTheirLimits) {
    const WarpFixture f;
    const std::vector<double> up(200, 300.0);
    const std::vector<float> quiet = cvtest::noise(12000, 0.001f, 7);
    const auto rms = [](std::span<const float> x) {
        double sum = 0.0;
        for (std::size_t i = 4096; i + 4096 < x.size(); ++i)
            sum += static_cast<double>(x[i]) * x[i];
        return std::sqrt(sum / static_cast<double>(x.size() - 8192));
    };
    struct Case {
        const std::vector<double>* shift;
        float outputGain;
        double lowest, highest;
    };
    for (const Case& c : std::vector<Case>{{nullptr, 1.0f, 1.0, 3.0},
                                           {&up, 1.0f, 1.0, 8.0},
                                           {nullptr, 1e4f, 1.0 / 3.0, 1.0},
                                           {&up, 1e4f, 1.0 / 16.0, 1.0}}) {
        SCOPED_TRACE(testing::Message() << (c.shift ? "shifted, " : "plain, ") << c.outputGain);
        std::vector<float> loudOrQuiet = quiet;
        for (float& x : loudOrQuiet)
            x *= c.outputGain;
        AudioBuffer out = AudioBuffer::fromInterleaved(loudOrQuiet.data(), 1, 12000);
        const double ratio = rms(f.warped(out, c.shift).channel(0)) / rms(loudOrQuiet);
        EXPECT_GE(ratio, c.lowest * 0.95);
        EXPECT_LE(ratio, c.highest * 1.05);
    }
}

} // namespace
} // namespace np
