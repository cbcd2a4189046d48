#include "plugin/gain_automation.h"

#include <array>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// Two producers (host automation and a host's UI thread) fill the ring while the audio thread drains
// it: every queued event arrives at most once and intact, and every other one is counted.
TEST(GainAutomationConcurrency, TwoProducersAndTheAudioThreadLoseNothingUncounted) {
    constexpr int kPerProducer = 20000;
    cv::GainAutomation ring;
    std::atomic<int> producersDone{0};
    const auto produce = [&](int id) {
        for (int i = 0; i < kPerProducer; ++i)
            // The offset carries the gain's identity, so a torn event shows.
            ring.queueEvent(id * kPerProducer + i, static_cast<float>(id * kPerProducer + i));
        producersDone.fetch_add(1);
    };
    std::thread a(produce, 0);
    std::thread b(produce, 1);

    std::vector<int> seen(2 * kPerProducer, 0);
    std::array<cv::GainAutomationEvent, cv::GainAutomation::kMaxDrained> events;
    std::uint64_t drained = 0;
    for (bool last = false; !last;) {
        last = producersDone.load() == 2;
        const int n = ring.drain(1 << 30, events);
        for (int i = 0; i < n; ++i) {
            const int offset = events[static_cast<std::size_t>(i)].offset;
            if (events[static_cast<std::size_t>(i)].gain != static_cast<float>(offset))
                continue; // the newest direct value, which repeats an overflowed event
            ASSERT_GE(offset, 0);
            ASSERT_LT(offset, 2 * kPerProducer);
            ++seen[static_cast<std::size_t>(offset)];
            ++drained;
        }
    }
    a.join();
    b.join();
    for (int count : seen)
        ASSERT_LE(count, 1);
    EXPECT_EQ(drained + ring.overflows() + ring.staleDropped(), 2u * kPerProducer);
}

} // namespace
