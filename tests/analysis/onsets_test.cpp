#include "engine/analysis/onsets.h"
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

std::vector<std::int64_t> detect(const std::vector<float>& mono, np::OnsetConfig config = {}) {
    return np::detectOnsets(mono.data(), static_cast<std::int64_t>(mono.size()), kRate, config, {});
}

// Each detected onset must precede its hit by at most one analysis frame (the flux rises as soon as
// the hit enters the window) and follow it by at most one hop.
void expectOneOnsetPerEvent(const std::vector<std::int64_t>& onsets,
                            const std::vector<std::int64_t>& starts) {
    ASSERT_EQ(onsets.size(), starts.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "event at " << starts[i]);
        EXPECT_GE(onsets[i], starts[i] - 1024);
        EXPECT_LE(onsets[i], starts[i] + 256);
        EXPECT_EQ(onsets[i] % 256, 0) << "onsets lie on the hop grid";
    }
}

TEST(Onsets, FindsEachHitOfAClickTrack) {
    std::vector<float> mono = cvtest::silence(static_cast<std::int64_t>(3 * kRate));
    const std::vector<std::int64_t> starts{12000, 40000, 70000, 100000, 130000};
    for (std::size_t i = 0; i < starts.size(); ++i)
        cvtest::mixInto(mono, hit(static_cast<std::uint32_t>(i + 1)), starts[i]);
    expectOneOnsetPerEvent(detect(mono), starts);
}

TEST(Onsets, FindsEachToneBurstOverQuietNoise) {
    std::vector<float> mono = cvtest::noise(static_cast<std::int64_t>(2.5 * kRate), 0.001f, 7);
    const std::vector<std::int64_t> starts{9600, 33600, 57600, 81600};
    const double pitches[] = {220.0, 330.0, 262.0, 440.0};
    for (std::size_t i = 0; i < starts.size(); ++i)
        cvtest::mixInto(mono, cvtest::harmonicTone(pitches[i], kRate, 9600, 8, 0.4f), starts[i]);
    expectOneOnsetPerEvent(detect(mono), starts);
}

TEST(Onsets, HitsCloserThanTheMinimumGapGiveOnlyTheEarlier) {
    std::vector<float> mono = cvtest::silence(48000);
    cvtest::mixInto(mono, hit(1), 12000);
    cvtest::mixInto(mono, hit(2), 12000 + 1440); // 30 ms later: under the 50 ms gap
    const std::vector<std::int64_t> onsets = detect(mono);
    ASSERT_EQ(onsets.size(), 1u);
    EXPECT_LE(onsets[0], 12000 + 256);
}

TEST(Onsets, QuietOrShortAudioGivesNoOnsets) {
    struct Case {
        const char* name;
        std::vector<float> mono;
    };
    const Case cases[] = {
        {"silence", cvtest::silence(48000)},
        {"shorter than one frame", cvtest::noise(1000, 0.5f, 3)},
        {"only two frames", cvtest::noise(1024 + 256, 0.5f, 3)},
        {"steady tone", cvtest::sine(440.0, kRate, 48000, 0.5f)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(detect(c.mono).empty());
    }
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
    int total = 0;
    np::detectOnsets(mono.data(), static_cast<std::int64_t>(mono.size()), kRate, {}, [&] {
        ++total;
        return true;
    });
    ASSERT_GT(total, 3);
    for (int stopAt = 0; stopAt < total; ++stopAt) {
        SCOPED_TRACE(stopAt);
        int asked = 0;
        const auto onsets = np::detectOnsets(mono.data(), static_cast<std::int64_t>(mono.size()), kRate, {},
                                             [&] { return asked++ != stopAt; });
        EXPECT_TRUE(onsets.empty());
    }
}

TEST(Onsets, UpperMedianOfAnEvenCountIsTheUpperMiddle) {
    std::vector<double> even{4.0, 1.0, 3.0, 2.0};
    EXPECT_EQ(np::detail::upperMedian(even), 3.0);
    std::vector<double> odd{5.0, 1.0, 3.0};
    EXPECT_EQ(np::detail::upperMedian(odd), 3.0);
}

} // namespace
