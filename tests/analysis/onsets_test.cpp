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
// holds the event, three hops before the event, and the onset is that frame's first sample.
TEST(Onsets, PositionGapAndEnergyRise) {
    constexpr std::int64_t kFirst = 100 * kHop;
    std::vector<float> one = cvtest::silence(48000);
    cvtest::mixInto(one, cvtest::noise(9600, 0.5f, 3), kFirst);
    EXPECT_EQ(detect(one), (std::vector<std::int64_t>{kFirst - 3 * kHop}));

    // A short quiet burst, then a loud one 8 or 9 frames later: 9 frames (50 ms) must separate onsets.
    for (const auto& [frames, expected] : {std::pair{8, 1u}, std::pair{9, 2u}}) {
        SCOPED_TRACE(testing::Message() << frames << " frames apart");
        std::vector<float> two = cvtest::silence(48000);
        cvtest::mixInto(two, cvtest::noise(480, 0.1f, 3), kFirst);
        cvtest::mixInto(two, cvtest::noise(9600, 0.6f, 4), kFirst + frames * kHop);
        EXPECT_EQ(detect(two).size(), expected);
    }

    // A tone that jumps to a new pitch is a spectral change; it becomes an onset only when the 20 ms
    // after it are at least 1.3 times as loud (RMS) as the 20 ms before it.
    for (const auto& [gain, expected] : {std::pair{1.1f, 0u}, std::pair{1.4f, 1u}}) {
        SCOPED_TRACE(testing::Message() << "level x " << gain);
        std::vector<float> jump = cvtest::sine(200.0, kRate, kFirst, 0.5f);
        const std::vector<float> high = cvtest::sine(3000.0, kRate, 48000 - kFirst, 0.5f * gain);
        jump.insert(jump.end(), high.begin(), high.end());
        EXPECT_EQ(detect(jump).size(), expected);
    }
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
