#include "tests/support/alloc_counter.h"

#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

// The realtime tests rely on this counter; if it stopped seeing allocations they would pass vacuously.
TEST(AllocationCounter, SeesContainerGrowthOnlyOnItsOwnThread) {
    cvtest::ScopedAllocationCounter counter;
    std::thread([] { std::vector<int> elsewhere(1000, 1); }).join();
    const auto before = counter.counts(); // only the std::thread state may be counted so far
    {
        std::vector<float> grown(4096);
        auto aligned = std::make_unique<std::max_align_t[]>(3);
    }
    EXPECT_EQ(counter.counts().allocations - before.allocations, 2u);
    EXPECT_EQ(counter.counts().frees - before.frees, 2u);
}
