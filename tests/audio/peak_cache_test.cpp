#include "engine/audio/peak_cache.h"
#include "tests/support/signals.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

TEST(PeakCache, BucketsMatchTheMonoMixdownExactly) {
    // An odd length leaves a partial last bucket at both levels.
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        np::AudioBuffer audio;
        audio.resize(channels, 100001);
        for (int c = 0; c < channels; ++c) {
            const auto noise = cvtest::noise(audio.frames, 0.9f - 0.2f * static_cast<float>(c), 11 + c);
            std::copy(noise.begin(), noise.end(), audio.channel(c).begin());
        }
        std::vector<float> mono(static_cast<std::size_t>(audio.frames));
        audio.mixdownToMono(mono);
        np::PeakCache cache;
        cache.build(audio);
        ASSERT_EQ(cache.levels.size(), 2u);
        for (const auto& level : cache.levels) {
            const auto size = static_cast<std::size_t>(level.framesPerBucket);
            ASSERT_EQ(level.minima.size(), (mono.size() + size - 1) / size);
            ASSERT_EQ(level.maxima.size(), level.minima.size());
            for (std::size_t b = 0; b < level.minima.size(); ++b) {
                const auto [lo, hi] = std::minmax_element(
                    mono.begin() + static_cast<std::ptrdiff_t>(b * size),
                    mono.begin() + static_cast<std::ptrdiff_t>(std::min(mono.size(), (b + 1) * size)));
                ASSERT_EQ(level.minima[b], *lo) << size << " " << b;
                ASSERT_EQ(level.maxima[b], *hi) << size << " " << b;
            }
        }
    }
}

TEST(PeakCache, PicksTheLevelForTheZoomAndClampsRangeQueries) {
    // A ramp of 1000 frames: four fine buckets (the last partial) and one coarse.
    std::vector<float> ramp(1000);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<float>(i) / 1000.0f - 0.5f;
    np::PeakCache cache;
    cache.build(np::AudioBuffer::fromInterleaved(ramp.data(), 1, 1000));
    for (const auto& [framesPerPixel, bucket] :
         {std::pair{100.0, 256}, {300.0, 256}, {4096.0, 4096}, {5000.0, 4096}})
        EXPECT_EQ(cache.levelFor(framesPerPixel).framesPerBucket, bucket) << framesPerPixel;
    const struct {
        const char* name;
        std::int64_t start, end;
        float min, max;
    } cases[] = {{"inside one bucket", 10, 20, 0.0f, 0.255f},
                 {"across buckets", 300, 600, 0.256f, 0.767f},
                 {"up to a bucket's end", 256, 512, 0.256f, 0.511f},
                 {"past the end", 5000, 6000, 0.768f, 0.999f},
                 {"before the start", -900, -100, 0.0f, 0.255f},
                 {"empty", 50, 50, 0.5f, 0.5f},
                 {"reversed", 60, 50, 0.5f, 0.5f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        float lo = 7.0f, hi = 7.0f;
        cache.rangeMinMax(cache.levels[0], c.start, c.end, lo, hi);
        EXPECT_FLOAT_EQ(lo, c.min - 0.5f);
        EXPECT_FLOAT_EQ(hi, c.max - 0.5f);
    }
    float lo = 7.0f, hi = 7.0f;
    cache.rangeMinMax(np::PeakCache::Level{}, 0, 100, lo, hi);
    EXPECT_TRUE(lo == 0.0f && hi == 0.0f) << "a level without buckets";

    np::AudioBuffer noChannels;
    noChannels.resize(0, 1000);
    cache.build(noChannels);
    EXPECT_TRUE(cache.levels.empty()) << "rebuilt in place";
    EXPECT_EQ(cache.frames, 1000);
}
