#include "engine/audio/peak_cache.h"
#include "tests/support/signals.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {

np::AudioBuffer stereoNoise(std::int64_t frames) {
    const auto left = cvtest::noise(frames, 0.9f, 11);
    const auto right = cvtest::noise(frames, 0.7f, 12);
    np::AudioBuffer b;
    b.resize(2, frames);
    std::copy(left.begin(), left.end(), b.channel(0).begin());
    std::copy(right.begin(), right.end(), b.channel(1).begin());
    return b;
}

} // namespace

TEST(PeakCache, BucketsMatchTheMonoMixdownExactly) {
    // An odd length leaves a partial last bucket at both levels.
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        np::AudioBuffer audio = stereoNoise(100001);
        if (channels == 1) {
            np::AudioBuffer mono;
            mono.resize(1, audio.frames);
            std::copy(audio.channel(0).begin(), audio.channel(0).end(), mono.channel(0).begin());
            audio = mono;
        }
        std::vector<float> mono(static_cast<std::size_t>(audio.frames));
        audio.mixdownToMono(mono);

        np::PeakCache cache;
        cache.build(audio);
        ASSERT_EQ(cache.levels.size(), 2u);
        EXPECT_EQ(cache.frames, audio.frames);
        for (const auto& level : cache.levels) {
            const auto size = static_cast<std::size_t>(level.framesPerBucket);
            const std::size_t buckets = (mono.size() + size - 1) / size;
            ASSERT_EQ(level.minima.size(), buckets);
            ASSERT_EQ(level.maxima.size(), buckets);
            for (std::size_t b = 0; b < buckets; ++b) {
                const auto first = mono.begin() + static_cast<std::ptrdiff_t>(b * size);
                const auto last =
                    mono.begin() + static_cast<std::ptrdiff_t>(std::min(mono.size(), (b + 1) * size));
                ASSERT_EQ(level.minima[b], *std::min_element(first, last))
                    << level.framesPerBucket << " " << b;
                ASSERT_EQ(level.maxima[b], *std::max_element(first, last))
                    << level.framesPerBucket << " " << b;
            }
        }
    }
}

TEST(PeakCache, ThousandFramesGiveFourFineBucketsAndOneCoarse) {
    std::vector<float> ramp(1000);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<float>(i) / 1000.0f;
    np::PeakCache cache;
    cache.build(np::AudioBuffer::fromInterleaved(ramp.data(), 1, 1000));
    ASSERT_EQ(cache.levels.size(), 2u);
    EXPECT_EQ(cache.levels[0].framesPerBucket, 256);
    EXPECT_EQ(cache.levels[0].minima.size(), 4u);
    EXPECT_FLOAT_EQ(cache.levels[0].minima[3], 0.768f);
    EXPECT_FLOAT_EQ(cache.levels[0].maxima[3], 0.999f);
    EXPECT_EQ(cache.levels[1].framesPerBucket, 4096);
    EXPECT_EQ(cache.levels[1].minima.size(), 1u);

    EXPECT_EQ(cache.levelFor(100.0).framesPerBucket, 256);
    EXPECT_EQ(cache.levelFor(300.0).framesPerBucket, 256);
    EXPECT_EQ(cache.levelFor(4096.0).framesPerBucket, 4096);
    EXPECT_EQ(cache.levelFor(5000.0).framesPerBucket, 4096);
}

TEST(PeakCache, RangeQueriesClampToTheBucketsAndIgnoreEmptyRanges) {
    std::vector<float> ramp(1000);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<float>(i) / 1000.0f - 0.5f;
    np::PeakCache cache;
    cache.build(np::AudioBuffer::fromInterleaved(ramp.data(), 1, 1000));
    const auto& fine = cache.levels[0];
    struct Case {
        const char* name;
        std::int64_t start;
        std::int64_t end;
        float min;
        float max;
    };
    const Case cases[] = {
        {"inside one bucket", 10, 20, -0.5f, 0.255f - 0.5f},
        {"across buckets", 300, 600, 0.256f - 0.5f, 0.767f - 0.5f},
        {"past the end", 5000, 6000, 0.768f - 0.5f, 0.999f - 0.5f},
        {"before the start", -900, -100, -0.5f, 0.255f - 0.5f},
        {"empty", 50, 50, 0.0f, 0.0f},
        {"reversed", 60, 50, 0.0f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        float lo = 7.0f;
        float hi = 7.0f;
        cache.rangeMinMax(fine, c.start, c.end, lo, hi);
        EXPECT_FLOAT_EQ(lo, c.min);
        EXPECT_FLOAT_EQ(hi, c.max);
    }
    float lo = 7.0f;
    float hi = 7.0f;
    cache.rangeMinMax(np::PeakCache::Level{}, 0, 100, lo, hi);
    EXPECT_EQ(lo, 0.0f);
    EXPECT_EQ(hi, 0.0f);
}

TEST(PeakCache, AudioWithoutChannelsOrFramesLeavesNoLevels) {
    np::PeakCache cache;
    cache.build(stereoNoise(5000));
    np::AudioBuffer noChannels;
    noChannels.resize(0, 1000);
    cache.build(noChannels);
    EXPECT_TRUE(cache.levels.empty());
    EXPECT_EQ(cache.frames, 1000);
    cache.build(np::AudioBuffer{});
    EXPECT_TRUE(cache.levels.empty());
    EXPECT_EQ(cache.frames, 0);
}
