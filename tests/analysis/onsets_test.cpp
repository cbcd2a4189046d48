#include "engine/analysis/onsets.h"
#include "tests/analysis/analysis_test_support.h"
#include "tests/support/signals.h"

#include <gtest/gtest.h>

namespace {

constexpr double kRate = 48000.0;
constexpr std::int64_t kHop = 256;

std::vector<float> hit(std::uint32_t seed) {
    return cvtest::hit(4800, 0.8f, 0.03, kRate, seed);
}

std::vector<std::int64_t> detect(const std::vector<float>& mono,
                                 const std::function<bool()>& keepGoing = {}) {
    return np::detectOnsets(mono.data(), static_cast<std::int64_t>(mono.size()), kRate, {}, keepGoing);
}

TEST(Onsets, FindsEachToneBurstOverQuietNoiseOnce) {
    std::vector<float> tones = cvtest::noise(static_cast<std::int64_t>(2.5 * kRate), 0.001f, 7);
    const std::vector<std::int64_t> starts{9600, 33600, 57600, 81600};
    const double pitches[] = {220.0, 330.0, 262.0, 440.0};
    for (std::size_t i = 0; i < starts.size(); ++i)
        cvtest::mixInto(tones, cvtest::harmonicTone(pitches[i], kRate, 9600, 8, 0.4f), starts[i]);
    const std::vector<std::int64_t> onsets = detect(tones);
    ASSERT_EQ(onsets.size(), starts.size());
    // At most one analysis frame early (the flux rises as soon as the tone enters the window) and one
    // hop late, on the hop grid.
    for (std::size_t i = 0; i < starts.size(); ++i) {
        EXPECT_GE(onsets[i], starts[i] - 1024) << i;
        EXPECT_LE(onsets[i], starts[i] + kHop) << i;
        EXPECT_EQ(onsets[i] % kHop, 0) << i;
    }
}

// Events on the hop grid out of silence: the log spectrum rises most in the first frame whose window
// holds the event, three hops before the event, and the onset is that frame's first sample. At 96 kHz
// the hop and frame are scaled as the analysis scales them, and every time stays the same.
TEST(Onsets, PositionGapAndEnergyRise) {
    for (const double rate : {kRate, 2 * kRate}) {
        SCOPED_TRACE(rate);
        const auto scale = static_cast<std::int64_t>(rate / kRate);
        const std::int64_t hop = kHop * scale;
        const std::int64_t first = 100 * hop;
        const std::int64_t total = 48000 * scale;
        const auto detectAt = [&](const std::vector<float>& mono) {
            return np::detectOnsets(mono.data(), total, rate,
                                    {.hop = static_cast<int>(hop), .frame = static_cast<int>(1024 * scale)},
                                    {});
        };
        std::vector<float> one = cvtest::silence(total);
        cvtest::mixInto(one, cvtest::noise(9600 * scale, 0.5f, 3), first);
        EXPECT_EQ(detectAt(one), (std::vector<std::int64_t>{first - 3 * hop}));

        // A short quiet burst, then a loud one 8 or 9 frames later: 9 frames (50 ms) must separate onsets.
        for (const auto& [frames, expected] : {std::pair{8, 1u}, std::pair{9, 2u}}) {
            SCOPED_TRACE(testing::Message() << frames << " frames apart");
            std::vector<float> two = cvtest::silence(total);
            cvtest::mixInto(two, cvtest::noise(480 * scale, 0.1f, 3), first);
            cvtest::mixInto(two, cvtest::noise(9600 * scale, 0.6f, 4), first + frames * hop);
            EXPECT_EQ(detectAt(two).size(), expected);
        }

        // A tone that jumps to a new pitch is a spectral change; it becomes an onset only when the 20 ms
        // after it are at least 1.3 times as loud (RMS) as the 20 ms before it.
        for (const auto& [gain, expected] : {std::pair{1.1f, 0u}, std::pair{1.4f, 1u}}) {
            SCOPED_TRACE(testing::Message() << "level x " << gain);
            std::vector<float> jump = cvtest::sine(200.0, rate, first, 0.5f);
            const std::vector<float> high = cvtest::sine(3000.0, rate, total - first, 0.5f * gain);
            jump.insert(jump.end(), high.begin(), high.end());
            EXPECT_EQ(detectAt(jump).size(), expected);
        }
    }
}

// A soft entry 85 ms after loud noise stops and 90 ms before it returns is found: the threshold
// follows the median novelty of 0.2 s around each frame, and there the pause outweighs the noise.
TEST(Onsets, ASoftEntryInAShortPauseBetweenLoudNoiseIsFound) {
    constexpr std::int64_t kEntry = 200 * kHop;
    std::vector<float> mono = cvtest::noise(400 * kHop, 0.4f, 3);
    std::fill(mono.begin() + kEntry - 16 * kHop, mono.begin() + kEntry + 17 * kHop, 0.0f);
    cvtest::mixInto(mono, cvtest::noise(17 * kHop, 0.003f, 8), kEntry);
    EXPECT_EQ(detect(mono), (std::vector<std::int64_t>{kEntry - 2 * kHop, kEntry + 14 * kHop}));
}

TEST(Onsets, QuietSteadyOrShortAudioGivesNoOnsetsNorTheEdgeFrames) {
    const std::pair<const char*, std::vector<float>> cases[] = {
        {"silence", cvtest::silence(48000)},
        {"shorter than one frame", cvtest::noise(1000, 0.5f, 3)},
        {"only two frames", cvtest::noise(1024 + kHop, 0.5f, 3)},
        {"steady tone", cvtest::sine(440.0, kRate, 48000, 0.5f)},
    };
    for (const auto& [name, mono] : cases)
        EXPECT_TRUE(detect(mono).empty()) << name;

    // Loud from the very first sample, then silent, then a hit inside the last frame.
    std::vector<float> mono = cvtest::noise(6000, 0.5f, 11);
    mono.resize(24000, 0.0f);
    const std::int64_t lastFrameStart = (24000 - 1024) / kHop * kHop;
    cvtest::mixInto(mono, hit(5), lastFrameStart + 200);
    for (std::int64_t onset : detect(mono)) {
        EXPECT_GT(onset, 0);
        EXPECT_LT(onset, lastFrameStart);
    }
}

TEST(Onsets, StopsAtEveryCheck) {
    std::vector<float> mono = cvtest::silence(static_cast<std::int64_t>(2 * kRate));
    cvtest::mixInto(mono, hit(1), 20000);
    cvtest::mixInto(mono, hit(2), 60000);
    const int checks = cvtest::stopAtEveryCheck([&](auto keepGoing) { return detect(mono, keepGoing); },
                                                [](const auto& onsets, int) { EXPECT_TRUE(onsets.empty()); });
    // 372 frames: one check at the start, before every 16th frame, at every 128th peak candidate and
    // at the end.
    EXPECT_EQ(checks, 1 + 24 + 2 + 1);
}

} // namespace
