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

// Largest error of out against the ideal sine 0.5 sin(w i + 0.3) over the middle half (away from the
// edges, where the filter sees the zeros around the signal), and the least-squares time offset in
// output samples: out(i) ~ ideal(i - lag) = ideal(i) - lag * slope(i).
std::pair<double, double> errorAndLag(std::span<const float> out, double hz, double rate) {
    double maxError = 0.0, cross = 0.0, norm = 0.0;
    const double w = 2.0 * std::numbers::pi * hz / rate;
    for (std::size_t i = out.size() / 4; i < 3 * out.size() / 4; ++i) {
        const double err = static_cast<double>(out[i]) - 0.5 * std::sin(w * static_cast<double>(i) + 0.3);
        const double slope = 0.5 * w * std::cos(w * static_cast<double>(i) + 0.3);
        maxError = std::max(maxError, std::abs(err));
        cross += err * slope;
        norm += slope * slope;
    }
    return {maxError, -cross / norm};
}

} // namespace

TEST(Resample, RefusesUnsupportedRatesAndOversizedJobsWithTheirMessages) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [src, dst] :
         {std::pair{7999.9, 48000.0}, std::pair{48000.0, 384000.1}, std::pair{nan, 48000.0},
          std::pair{48000.0, inf}, std::pair{-48000.0, 48000.0}}) {
        SCOPED_TRACE(std::to_string(src) + " -> " + std::to_string(dst));
        // Checked even for empty audio.
        for (const np::AudioBuffer& audio : {claimedShape(1, 0), claimedShape(1, 100)})
            expectThrowsWith<std::invalid_argument>(
                [&, src = src, dst = dst] { np::resampleBuffer(audio, src, dst, {}); },
                "Resampling requires a supported finite sample rate");
    }
    struct Case {
        const char* name;
        int channels;
        std::int64_t frames;
        double src, dst;
    };
    const Case cases[] = {
        {"source above the sample limit, equal rates", 2, 67108865, 48000.0, 48000.0},
        {"three channels", 3, 10, 48000.0, 44100.0},
        {"output above the sample limit", 1, 3000000, 8000.0, 384000.0},
        {"source and output together above 496 MiB", 1, 65011712, 48000.0, 48001.0},
    };
    for (const Case& c : cases)
        expectThrowsWith<std::length_error>(
            [&] { np::resampleBuffer(claimedShape(c.channels, c.frames), c.src, c.dst, {}); },
            "Resampling source and output exceed the 512 MiB audio working-set budget");
}

TEST(Resample, WorkingSetPlanStopsExactlyAtTheBudget) {
    std::int64_t outFrames = -1;
    std::size_t source = 1, output = 1, total = 1;
    ASSERT_TRUE(np::checkedResampleWorkingSet(2, 48000, 48000.0, 44100.0, outFrames, source, output, total));
    EXPECT_EQ(outFrames, 44100);
    EXPECT_EQ(total, 2u * 48000u * 4u + 2u * 44100u * 4u + np::kResampleConverterOverheadBytes);
    // Exactly 496 MiB of source and output is accepted; one more frame is not.
    EXPECT_TRUE(
        np::checkedResampleWorkingSet(1, 65011712, 48000.0, 48000.0, outFrames, source, output, total));
    EXPECT_EQ(total, 536870912u);
    EXPECT_FALSE(
        np::checkedResampleWorkingSet(1, 65011713, 48000.0, 48000.0, outFrames, source, output, total));
    // The converted length rounds half away from zero: 3 frames at 3/2 the rate is 4.5.
    std::size_t bytes = 0;
    EXPECT_TRUE(np::checkedResampledAudioShape(claimedShape(1, 3), 32000.0, 48000.0, outFrames, bytes));
    EXPECT_EQ(outFrames, 5);
}

TEST(Resample, EmptyAndEqualRateBuffersComeBackUnchanged) {
    const np::AudioBuffer empty = np::resampleBuffer(claimedShape(0, 1000), 48000.0, 44100.0, {});
    EXPECT_EQ(empty.frames, 1000);
    const auto tone = cvtest::sine(440.0, 44100.0, 777);
    const np::AudioBuffer audio = np::AudioBuffer::fromInterleaved(tone.data(), 1, 777);
    EXPECT_EQ(np::resampleBuffer(audio, 44100.0, 44100.0, {}).samples, audio.samples);
}

TEST(Resample, CancelsAtTheStartAndBetweenBlocks) {
    const auto tone = cvtest::sine(440.0, 48000.0, 100000);
    const np::AudioBuffer audio = np::AudioBuffer::fromInterleaved(tone.data(), 1, 100000);
    // Asked at the start, after the checks, before the channel and before each block: stopping at the
    // fifth question stops during the conversion.
    for (int stopAt : {1, 5}) {
        int calls = 0;
        expectThrowsWith<np::OperationCancelled>(
            [&] { np::resampleBuffer(audio, 48000.0, 44100.0, [&] { return ++calls < stopAt; }); },
            "Resampling was cancelled");
        EXPECT_EQ(calls, stopAt);
    }
}

TEST(Resample, KeepsLengthAndPhaseOfEachChannelAtCommonAndExtremeRatios) {
    struct Case {
        double src, dst, hz, tolerance;
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
        // One second, the right channel an octave below the left.
        const auto frames = static_cast<std::int64_t>(c.src);
        np::AudioBuffer in;
        in.resize(2, frames);
        for (int ch = 0; ch < 2; ++ch) {
            const auto tone = cvtest::sine(c.hz / (ch + 1), c.src, frames, 0.5f, 0.3);
            std::copy(tone.begin(), tone.end(), in.channel(ch).begin());
        }
        const np::AudioBuffer out = np::resampleBuffer(in, c.src, c.dst, {});
        ASSERT_EQ(out.frames, std::llroundl(static_cast<long double>(frames) * c.dst / c.src));
        for (int ch = 0; ch < 2; ++ch) {
            const auto [maxError, lag] = errorAndLag(out.channel(ch), c.hz / (ch + 1), c.dst);
            EXPECT_LT(maxError, c.tolerance) << "channel " << ch;
            EXPECT_LT(std::abs(lag), 1e-3) << "channel " << ch;
        }
    }
}

TEST(ConverterStallWatch, AllowsEightEmptyBlocksAndBoundsTheFlush) {
    np::detail::ConverterStallWatch empty(1.0);
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(empty.blockDone(0, 0.0, false)) << i;
    EXPECT_FALSE(empty.blockDone(0, 0.0, false));

    // Output, or a converter still filling its filter, resets the count.
    np::detail::ConverterStallWatch filling(1.0 / 48.0);
    double pending = 0.0;
    for (int i = 0; i < 30; ++i)
        EXPECT_TRUE(filling.blockDone(0, pending += 170.0, false)) << i;
    EXPECT_TRUE(filling.blockDone(4000, 100.0, false));
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(filling.blockDone(0, 100.0, false)) << i;
    EXPECT_FALSE(filling.blockDone(0, 100.0, false));

    // Past the input, 13192 values pending after the first block allow two blocks of silence at ratio 1,
    // the grace of 8 and that block itself: a converter that swallows silence for ever is stopped there.
    np::detail::ConverterStallWatch flushing(1.0);
    pending = 5000.0;
    int accepted = 0;
    while (flushing.blockDone(0, pending += 8192.0, true) && accepted < 1000)
        ++accepted;
    EXPECT_EQ(accepted, 11);
}
