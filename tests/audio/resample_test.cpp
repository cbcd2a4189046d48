#include "engine/audio/cancellation.h"
#include "engine/audio/resample.h"
#include "tests/support/signals.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>

namespace {

// A buffer that claims a shape without holding its samples: the size checks must refuse it before
// anything reads or allocates.
np::AudioBuffer claimedShape(int channels, std::int64_t frames) {
    np::AudioBuffer b;
    b.channels = channels;
    b.frames = frames;
    return b;
}

template <typename Exception, typename F>
void expectThrowsWith(F&& f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "expected an exception with: " << message;
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

np::AudioBuffer monoSine(double hz, double rate, std::int64_t frames, double phase = 0.3) {
    const auto s = cvtest::sine(hz, rate, frames, 0.5f, phase);
    return np::AudioBuffer::fromInterleaved(s.data(), 1, frames);
}

// Least-squares fit of out against the ideal sine sampled at the new rate over the middle half (away
// from the edges, where the filter sees the zeros around the signal). Returns the largest error and the
// time offset in output samples.
struct Fit {
    double maxError = 0.0;
    double lagSamples = 0.0;
};
Fit fitSine(std::span<const float> out, double hz, double rate, double phase) {
    Fit fit;
    double cross = 0.0;
    double norm = 0.0;
    const std::size_t n = out.size();
    for (std::size_t i = n / 4; i < 3 * n / 4; ++i) {
        const double w = 2.0 * std::numbers::pi * hz / rate;
        const double ideal = 0.5 * std::sin(w * static_cast<double>(i) + phase);
        const double slope = 0.5 * w * std::cos(w * static_cast<double>(i) + phase);
        const double err = static_cast<double>(out[i]) - ideal;
        fit.maxError = std::max(fit.maxError, std::abs(err));
        cross += err * slope;
        norm += slope * slope;
    }
    // out(i) ~ ideal(i - lag) = ideal(i) - lag * slope(i).
    fit.lagSamples = -cross / norm;
    return fit;
}

} // namespace

TEST(Resample, RefusesUnsupportedRatesWithTheRateMessage) {
    const np::AudioBuffer audio = monoSine(440.0, 48000.0, 100);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& rates :
         {std::pair{7999.9, 48000.0}, std::pair{48000.0, 384000.1}, std::pair{nan, 48000.0},
          std::pair{48000.0, inf}, std::pair{-48000.0, 48000.0}}) {
        const double src = rates.first;
        const double dst = rates.second;
        SCOPED_TRACE(std::to_string(src) + " -> " + std::to_string(dst));
        expectThrowsWith<std::invalid_argument>([&] { np::resampleBuffer(audio, src, dst, {}); },
                                                "Resampling requires a supported finite sample rate");
        // The rates are checked even for empty audio.
        expectThrowsWith<std::invalid_argument>([&] { np::resampleBuffer(np::AudioBuffer{}, src, dst, {}); },
                                                "Resampling requires a supported finite sample rate");
    }
}

TEST(Resample, RefusesOversizedJobsBeforeTakingMemory) {
    const std::string message = "Resampling source and output exceed the 512 MiB audio working-set budget";
    struct Case {
        const char* name;
        int channels;
        std::int64_t frames;
        double src;
        double dst;
    };
    const Case cases[] = {
        {"source above the sample limit, equal rates", 2, 67108865, 48000.0, 48000.0},
        {"three channels", 3, 10, 48000.0, 44100.0},
        {"output above the sample limit", 1, 3000000, 8000.0, 384000.0},
        {"source and output together above 496 MiB", 1, 65011712, 48000.0, 48001.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectThrowsWith<std::length_error>(
            [&] { np::resampleBuffer(claimedShape(c.channels, c.frames), c.src, c.dst, {}); }, message);
    }
}

TEST(Resample, WorkingSetPlanCountsSourceOutputAndConverterAllowance) {
    std::int64_t outFrames = -1;
    std::size_t source = 1, output = 1, total = 1;
    ASSERT_TRUE(np::checkedResampleWorkingSet(2, 48000, 48000.0, 44100.0, outFrames, source, output, total));
    EXPECT_EQ(outFrames, 44100);
    EXPECT_EQ(source, 2u * 48000u * 4u);
    EXPECT_EQ(output, 2u * 44100u * 4u);
    EXPECT_EQ(total, source + output + np::kResampleConverterOverheadBytes);

    // Exactly 496 MiB of source and output is accepted; one more frame is not, though the outputs
    // still describe the refused job.
    EXPECT_TRUE(
        np::checkedResampleWorkingSet(1, 65011712, 48000.0, 48000.0, outFrames, source, output, total));
    EXPECT_EQ(total, 536870912u);
    EXPECT_FALSE(
        np::checkedResampleWorkingSet(1, 65011713, 48000.0, 48000.0, outFrames, source, output, total));
    EXPECT_EQ(outFrames, 65011713);

    for (const auto& [channels, frames] :
         {std::pair{-1, std::int64_t{10}}, std::pair{3, std::int64_t{10}}, std::pair{1, std::int64_t{-1}}}) {
        SCOPED_TRACE(std::to_string(channels) + " x " + std::to_string(frames));
        EXPECT_FALSE(np::checkedResampleWorkingSet(channels, frames, 48000.0, 44100.0, outFrames, source,
                                                   output, total));
        EXPECT_EQ(outFrames, 0);
        EXPECT_EQ(source + output + total, 0u);
    }
    EXPECT_FALSE(np::checkedResampleWorkingSet(1, 10, 48000.0, 400000.0, outFrames, source, output, total));
}

TEST(Resample, ShapeCheckRoundsTheLengthAndReportsRefusedShapes) {
    std::int64_t frames = -1;
    std::size_t bytes = 1;
    EXPECT_TRUE(np::checkedResampledAudioShape(claimedShape(2, 48000), 48000.0, 44100.0, frames, bytes));
    EXPECT_EQ(frames, 44100);
    EXPECT_EQ(bytes, 44100u * 2u * 4u);
    // 3 frames at 3/2 the rate is 4.5, which rounds away from zero.
    EXPECT_TRUE(np::checkedResampledAudioShape(claimedShape(1, 3), 32000.0, 48000.0, frames, bytes));
    EXPECT_EQ(frames, 5);
    // Too many output samples: refused, but the computed shape is reported.
    EXPECT_FALSE(np::checkedResampledAudioShape(claimedShape(2, 3000000), 8000.0, 384000.0, frames, bytes));
    EXPECT_EQ(frames, 144000000);
    EXPECT_EQ(bytes, 144000000u * 2u * 4u);
    EXPECT_FALSE(np::checkedResampledAudioShape(claimedShape(1, 10), 48000.0, 7000.0, frames, bytes));
    EXPECT_EQ(frames, 0);
    EXPECT_EQ(bytes, 0u);
}

TEST(Resample, EmptyAndEqualRateBuffersComeBackUnchanged) {
    np::AudioBuffer empty;
    empty.resize(0, 1000);
    const np::AudioBuffer a = np::resampleBuffer(empty, 48000.0, 44100.0, {});
    EXPECT_EQ(a.channels, 0);
    EXPECT_EQ(a.frames, 1000);

    const np::AudioBuffer audio = monoSine(440.0, 44100.0, 777);
    const np::AudioBuffer same = np::resampleBuffer(audio, 44100.0, 44100.0, {});
    EXPECT_EQ(same.samples, audio.samples);
    EXPECT_EQ(same.frames, 777);
}

TEST(Resample, CancelsAtTheStartAndBetweenBlocks) {
    const np::AudioBuffer audio = monoSine(440.0, 48000.0, 100000);
    int calls = 0;
    expectThrowsWith<np::OperationCancelled>(
        [&] {
            np::resampleBuffer(audio, 48000.0, 44100.0, [&] {
                ++calls;
                return false;
            });
        },
        "Resampling was cancelled");
    EXPECT_EQ(calls, 1);

    // Asked at the start, after the checks, before the channel and before each block: stopping at the
    // fifth question stops during the conversion.
    calls = 0;
    expectThrowsWith<np::OperationCancelled>(
        [&] { np::resampleBuffer(audio, 48000.0, 44100.0, [&] { return ++calls < 5; }); },
        "Resampling was cancelled");
    EXPECT_EQ(calls, 5);
}

TEST(Resample, KeepsLengthAndPhaseAtCommonAndExtremeRatios) {
    struct Case {
        double src;
        double dst;
        double hz;
        double tolerance;
    };
    // The tones stay inside the 98 % passband of the lower rate. Well inside it the error is float
    // rounding (about 1e-7); at 92 % of Nyquist the passband ripple may reach 0.01 dB, 5.8e-4 on an
    // amplitude of 0.5. A delay of one output sample would show an error near w * 0.5, far above both.
    const Case cases[] = {{48000.0, 44100.0, 1000.0, 1e-5},
                          {44100.0, 48000.0, 5000.0, 1e-5},
                          {8000.0, 384000.0, 1000.0, 1e-5},
                          {384000.0, 8000.0, 1000.0, 1e-5},
                          {8000.0, 384000.0, 3700.0, 5.8e-4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.src) + " -> " + std::to_string(c.dst) + " at " + std::to_string(c.hz));
        const double phase = 0.3;
        const auto frames = static_cast<std::int64_t>(c.src); // one second
        const np::AudioBuffer in = monoSine(c.hz, c.src, frames, phase);
        const np::AudioBuffer out = np::resampleBuffer(in, c.src, c.dst, {});
        ASSERT_EQ(out.channels, 1);
        ASSERT_EQ(out.frames, std::llroundl(static_cast<long double>(frames) * c.dst / c.src));
        const Fit fit = fitSine(out.channel(0), c.hz, c.dst, phase);
        EXPECT_LT(fit.maxError, c.tolerance);
        EXPECT_LT(std::abs(fit.lagSamples), 1e-3);
    }
}

TEST(Resample, ConvertsEachStereoChannelOnItsOwn) {
    const auto left = cvtest::sine(500.0, 44100.0, 44100, 0.5f, 0.3);
    const auto right = cvtest::sine(2000.0, 44100.0, 44100, 0.5f, 0.3);
    np::AudioBuffer in;
    in.resize(2, 44100);
    std::copy(left.begin(), left.end(), in.channel(0).begin());
    std::copy(right.begin(), right.end(), in.channel(1).begin());
    const np::AudioBuffer out = np::resampleBuffer(in, 44100.0, 48000.0, {});
    ASSERT_EQ(out.frames, 48000);
    EXPECT_LT(fitSine(out.channel(0), 500.0, 48000.0, 0.3).maxError, 1e-5);
    EXPECT_LT(fitSine(out.channel(1), 2000.0, 48000.0, 0.3).maxError, 1e-5);
}

TEST(ConverterStallWatch, AllowsEightEmptyBlocksAndStopsAtTheNinth) {
    np::detail::ConverterStallWatch watch(1.0);
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(watch.blockDone(0, 0.0, false)) << i;
    EXPECT_FALSE(watch.blockDone(0, 0.0, false));

    // Output, or a converter still filling its filter, resets the count.
    np::detail::ConverterStallWatch filling(1.0 / 48.0);
    double pending = 0.0;
    for (int i = 0; i < 30; ++i)
        EXPECT_TRUE(filling.blockDone(0, pending += 170.0, false)) << i;
    EXPECT_TRUE(filling.blockDone(4000, 100.0, false));
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(filling.blockDone(0, 100.0, false)) << i;
    EXPECT_FALSE(filling.blockDone(0, 100.0, false));
}

TEST(ConverterStallWatch, BoundsTheSilenceFedAfterTheInput) {
    // After the first block past the input 13192 values are pending: two blocks of silence at ratio
    // 1, plus the grace of 8, plus that block itself. A converter that swallows silence for ever is
    // stopped there.
    np::detail::ConverterStallWatch watch(1.0);
    double pending = 5000.0;
    int accepted = 0;
    while (watch.blockDone(0, pending += 8192.0, true) && accepted < 1000)
        ++accepted;
    EXPECT_EQ(accepted, 11);
}
