#include "engine/analysis/onsets.h"
#include "tests/analysis/analysis_test_support.h"
#include "tests/support/signals.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr double kRate = 48000.0;

// A percussive hit: white noise under a 30 ms exponential decay.
std::vector<float> hit(std::uint32_t seed) {
    std::vector<float> burst = cvtest::noise(4800, 0.8f, seed);
    for (std::size_t i = 0; i < burst.size(); ++i)
        burst[i] *= static_cast<float>(std::exp(-static_cast<double>(i) / (0.03 * kRate)));
    return burst;
}

std::vector<std::int64_t> detect(const std::vector<float>& mono,
                                 const std::function<bool()>& keepGoing = {}) {
    return np::detectOnsets(mono.data(), static_cast<std::int64_t>(mono.size()), kRate, {}, keepGoing);
}

TEST(Onsets, FindsEachClickAndEachToneBurstOnce) {
    std::vector<float> clicks = cvtest::silence(static_cast<std::int64_t>(3 * kRate));
    const std::vector<std::int64_t> clickStarts{12000, 40000, 70000, 100000, 130000};
    for (std::size_t i = 0; i < clickStarts.size(); ++i)
        cvtest::mixInto(clicks, hit(static_cast<std::uint32_t>(i + 1)), clickStarts[i]);
    std::vector<float> tones = cvtest::noise(static_cast<std::int64_t>(2.5 * kRate), 0.001f, 7);
    const std::vector<std::int64_t> toneStarts{9600, 33600, 57600, 81600};
    const double pitches[] = {220.0, 330.0, 262.0, 440.0};
    for (std::size_t i = 0; i < toneStarts.size(); ++i)
        cvtest::mixInto(tones, cvtest::harmonicTone(pitches[i], kRate, 9600, 8, 0.4f), toneStarts[i]);

    for (const auto& [name, mono, starts] : {std::tuple{"clicks", clicks, clickStarts},
                                             std::tuple{"tone bursts over quiet noise", tones, toneStarts}}) {
        SCOPED_TRACE(name);
        const std::vector<std::int64_t> onsets = detect(mono);
        ASSERT_EQ(onsets.size(), starts.size());
        // At most one analysis frame early (the flux rises as soon as the event enters the window) and
        // one hop late, on the hop grid.
        for (std::size_t i = 0; i < starts.size(); ++i) {
            EXPECT_GE(onsets[i], starts[i] - 1024) << i;
            EXPECT_LE(onsets[i], starts[i] + 256) << i;
            EXPECT_EQ(onsets[i] % 256, 0) << i;
        }
    }
}

TEST(Onsets, HitsCloserThanTheMinimumGapGiveOnlyTheEarlier) {
    std::vector<float> mono = cvtest::silence(48000);
    cvtest::mixInto(mono, hit(1), 12000);
    cvtest::mixInto(mono, hit(2), 12000 + 1440); // 30 ms later: under the 50 ms gap
    const std::vector<std::int64_t> onsets = detect(mono);
    ASSERT_EQ(onsets.size(), 1u);
    EXPECT_LE(onsets[0], 12000 + 256);
}

TEST(Onsets, QuietSteadyOrShortAudioGivesNoOnsets) {
    const std::pair<const char*, std::vector<float>> cases[] = {
        {"silence", cvtest::silence(48000)},
        {"shorter than one frame", cvtest::noise(1000, 0.5f, 3)},
        {"only two frames", cvtest::noise(1024 + 256, 0.5f, 3)},
        {"steady tone", cvtest::sine(440.0, kRate, 48000, 0.5f)},
    };
    for (const auto& [name, mono] : cases)
        EXPECT_TRUE(detect(mono).empty()) << name;
}

TEST(Onsets, NeverReportsTheFirstOrLastFrame) {
    // Loud from the very first sample, then silent, then a hit inside the last frame.
    std::vector<float> mono = cvtest::noise(6000, 0.5f, 11);
    mono.resize(24000, 0.0f);
    const std::int64_t lastFrameStart = (24000 - 1024) / 256 * 256;
    cvtest::mixInto(mono, hit(5), lastFrameStart + 200);
    for (std::int64_t onset : detect(mono)) {
        EXPECT_GT(onset, 0);
        EXPECT_LT(onset, lastFrameStart);
    }
}

TEST(Onsets, StoppingAtAnyCheckGivesNothing) {
    std::vector<float> mono = cvtest::silence(static_cast<std::int64_t>(2 * kRate));
    cvtest::mixInto(mono, hit(1), 20000);
    cvtest::mixInto(mono, hit(2), 60000);
    cvtest::stopAtEveryQuestion([&](auto keepGoing) { return detect(mono, keepGoing); },
                                [](const std::vector<std::int64_t>& onsets) { EXPECT_TRUE(onsets.empty()); });
}

} // namespace
