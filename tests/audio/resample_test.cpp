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

// Level in dB (against the amplitude 0.5 it was made with) and delay in output samples of the tone
// 0.5 sin(w i + phase) in the middle half of out, away from the edges where the filter sees the zeros
// around the signal: a least-squares fit of out ~ a sin(w i + phase) + b cos(w i + phase).
std::pair<double, double> levelAndLag(std::span<const float> out, double hz, double rate, double phase) {
    const double w = 2.0 * std::numbers::pi * hz / rate;
    double ss = 0.0, cc = 0.0, sc = 0.0, ys = 0.0, yc = 0.0;
    for (std::size_t i = out.size() / 4; i < 3 * out.size() / 4; ++i) {
        const double s = std::sin(w * static_cast<double>(i) + phase);
        const double c = std::cos(w * static_cast<double>(i) + phase);
        ss += s * s, cc += c * c, sc += s * c;
        ys += out[i] * s, yc += out[i] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det;
    const double b = (yc * ss - ys * sc) / det;
    return {20.0 * std::log10(std::hypot(a, b) / 0.5), std::atan2(b, a) / w};
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
    EXPECT_EQ(np::resampleBuffer(claimedShape(0, 1000), 48000.0, 44100.0, {}).frames, 1000)
        << "empty as it is";
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

TEST(Resample, WorkingSetPlanStopsExactlyAtTheBudgetAndRoundsTheLength) {
    std::int64_t outFrames = -1;
    std::size_t source = 1, output = 1, total = 1;
    // Exactly 496 MiB of source and output, 512 MiB with the converter, is accepted; one more frame is not.
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

TEST(Resample, KeepsLengthPhaseAndLevelOfEachChannelUpToThePassbandEdge) {
    struct Case {
        double src, dst, nyquistShare, lowDb, highDb;
    };
    // Well inside the passband a tone keeps its level to float rounding. The passband ends at 98 % of
    // the lower Nyquist frequency: at 97 % the level stays within the 0.01 dB ripple; at 99 %, halfway
    // through the transition band that ends at Nyquist, it has fallen by about 6 dB.
    const Case cases[] = {{48000.0, 44100.0, 0.1, -1e-3, 1e-3},  {44100.0, 48000.0, 0.45, -1e-3, 1e-3},
                          {8000.0, 384000.0, 0.25, -1e-3, 1e-3}, {384000.0, 8000.0, 0.25, -1e-3, 1e-3},
                          {48000.0, 44100.0, 0.97, -0.01, 0.01}, {44100.0, 48000.0, 0.97, -0.01, 0.01},
                          {48000.0, 44100.0, 0.99, -9.0, -3.0},  {44100.0, 48000.0, 0.99, -9.0, -3.0}};
    for (const Case& c : cases) {
        const double hz = c.nyquistShare * std::min(c.src, c.dst) / 2.0;
        SCOPED_TRACE(std::to_string(c.src) + " -> " + std::to_string(c.dst) + " at " + std::to_string(hz));
        // One second; the channels differ in phase, so that swapping or shifting them shows.
        const auto frames = static_cast<std::int64_t>(c.src);
        np::AudioBuffer in;
        in.resize(2, frames);
        for (int ch = 0; ch < 2; ++ch) {
            const auto tone = cvtest::sine(hz, c.src, frames, 0.5f, 0.3 + ch);
            std::copy(tone.begin(), tone.end(), in.channel(ch).begin());
        }
        const np::AudioBuffer out = np::resampleBuffer(in, c.src, c.dst, {});
        ASSERT_EQ(out.frames, std::llroundl(static_cast<long double>(frames) * c.dst / c.src));
        for (int ch = 0; ch < 2; ++ch) {
            SCOPED_TRACE(ch);
            const auto [levelDb, lag] = levelAndLag(out.channel(ch), hz, c.dst, 0.3 + ch);
            EXPECT_GE(levelDb, c.lowDb);
            EXPECT_LE(levelDb, c.highDb);
            EXPECT_LT(std::abs(lag), 1e-3) << "output sample 0 must lie at input sample 0";
        }
    }
}

// The end of a take is converted as if silence followed it: the last samples out are those of the same
// take with silence appended, whatever the converter's input blocks held before.
TEST(Resample, TheEndOfATakeIsConvertedAsIfSilenceFollowed) {
    const std::int64_t frames = 20000; // two and a half input blocks
    const auto tone = cvtest::harmonicTone(300.0, 48000.0, frames, 10, 0.5f);
    auto padded = tone;
    padded.resize(static_cast<std::size_t>(frames) * 3, 0.0f);
    const np::AudioBuffer out =
        np::resampleBuffer(np::AudioBuffer::fromInterleaved(tone.data(), 1, frames), 48000.0, 44100.0, {});
    const np::AudioBuffer reference = np::resampleBuffer(
        np::AudioBuffer::fromInterleaved(padded.data(), 1, frames * 3), 48000.0, 44100.0, {});
    ASSERT_EQ(out.frames, 18375);
    for (std::int64_t i = 0; i < out.frames; ++i)
        ASSERT_NEAR(out.samples[static_cast<std::size_t>(i)], reference.samples[static_cast<std::size_t>(i)],
                    1e-6f)
            << i;
}

TEST(ConverterStallWatch, AllowsEightEmptyBlocksAndBoundsTheFlush) {
    np::detail::ConverterStallWatch empty(1.0);
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(empty.blockDone(0, 0.0, false)) << i;
    EXPECT_FALSE(empty.blockDone(0, 0.0, false));

    // A converter still filling its filter (384 kHz to 8 kHz takes more than 8 blocks to give output) is
    // covered by the conversions above.
    // Past the input, 13192 values pending after the first block allow two blocks of silence at ratio 1,
    // the grace of 8 and that block itself: a converter that swallows silence for ever is stopped there.
    np::detail::ConverterStallWatch flushing(1.0);
    double pending = 5000.0;
    int accepted = 0;
    while (flushing.blockDone(0, pending += 8192.0, true) && accepted < 1000)
        ++accepted;
    EXPECT_EQ(accepted, 11);
}
