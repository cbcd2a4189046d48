#include "engine/render/stretch/stretch_engine.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/heap_usage.h"
#include "tests/support/signals.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace np {
namespace {

constexpr double kRate = 48000.0;
constexpr int kBlock = 1440;   // 30 ms at 48 kHz
constexpr int kInterval = 360; // 7.5 ms
constexpr double kRatio = 1.5; // input frames per output frame

// A stereo run: two tones fed at kRatio in output blocks of changing sizes, with a transpose factor that
// changes every block. Everything is allocated before run().
struct StereoRun {
    std::vector<float> left = cvtest::harmonicTone(220.0, kRate, 96000);
    std::vector<float> right = cvtest::sine(330.0, kRate, 96000);
    std::vector<int> blocks = {1, 17, 64, 512, 4096, 256, 3, 1000};
    std::vector<float> out = std::vector<float>(2 * 8192 * 2);

    // Writes each block's left, then right channel into out.
    void run(StretchEngine& engine) noexcept {
        const std::array<const float*, 2> preRoll = {left.data(), right.data()};
        std::int64_t given = engine.seekLength(kRatio);
        engine.setTransposeFactor(0.7);
        engine.seek(preRoll.data(), given, kRatio);
        std::int64_t produced = 0, written = 0;
        double factor = 0.7;
        for (const int frames : blocks) {
            const std::int64_t inputs =
                std::llround((produced + frames) * kRatio) - std::llround(produced * kRatio);
            const std::array<const float*, 2> in = {left.data() + given, right.data() + given};
            const std::array<float*, 2> outputs = {out.data() + written, out.data() + written + frames};
            engine.setTransposeFactor(factor);
            engine.process(in.data(), inputs, outputs.data(), frames);
            given += inputs;
            produced += frames;
            written += 2 * frames;
            factor = factor > 1.6 ? 0.7 : factor * 1.09;
        }
    }
};

TEST(StretchEngine, ProcessTakesNoMemoryAndRepeatsBitForBit) {
    StretchEngine engine;
    engine.configure(2, kBlock, kInterval);
    StereoRun first, second;
    {
        cvtest::ScopedAllocationCounter counter;
        first.run(engine);
        second.run(engine); // seek resets everything the first run left behind
        EXPECT_EQ(counter.counts().allocations, 0u);
        EXPECT_EQ(counter.counts().frees, 0u);
    }
    EXPECT_EQ(first.out, second.out);
    float loudest = 0.0f;
    for (const float x : first.out)
        loudest = std::max(loudest, std::abs(x));
    EXPECT_GT(loudest, 0.1f);
}

TEST(StretchEngine, HoldsAtMostFourMebibytesAt384kHzStereo) {
    const std::uint64_t before = cvtest::currentHeapBytes();
    StretchEngine engine;
    engine.configure(2, 11520, 2880); // 30 ms and 7.5 ms at 384 kHz
    const std::uint64_t held = cvtest::currentHeapBytes() - before;
    EXPECT_LE(held, 4u * 1024 * 1024);
    EXPECT_GT(held, 1u * 1024 * 1024); // the measure sees the engine at all
    RecordProperty("heapBytes", static_cast<int>(held));
}

TEST(StretchEngine, RefusesSettingsOutOfRange) {
    struct Case {
        int channels, block, interval;
    };
    for (const Case& c :
         std::vector<Case>{{0, 1440, 360}, {3, 1440, 360}, {1, 15, 4}, {1, 1440, 721}, {1, 1440, 0}}) {
        SCOPED_TRACE(testing::Message() << c.channels << " " << c.block << " " << c.interval);
        StretchEngine engine;
        EXPECT_THROW(engine.configure(c.channels, c.block, c.interval), std::invalid_argument);
    }
}

} // namespace
} // namespace np
