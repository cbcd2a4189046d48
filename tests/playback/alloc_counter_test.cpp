#include "tests/support/alloc_counter.h"

#include <gtest/gtest.h>
#include <memory>
#include <new>
#include <thread>
#include <vector>

// The realtime tests rely on this counter; if it stopped seeing allocations they would pass vacuously.
TEST(AllocationCounter, SeesContainerGrowthOnlyOnItsOwnThread) {
    cvtest::AllocationCounts counted;
    {
        cvtest::ScopedAllocationCounter counter;
        std::thread other([] { std::vector<int> elsewhere(1000, 1); });
        other.join();
        const auto afterThread = counter.counts();
        {
            std::vector<float> grown;
            grown.resize(4096);
            auto aligned = std::make_unique<std::max_align_t[]>(3);
        }
        counted = counter.counts();
        // The thread's own stack and vector were allocated by it, not by this thread; only the
        // std::thread state may be counted here.
        EXPECT_EQ(counted.allocations - afterThread.allocations, 2u);
        EXPECT_EQ(counted.frees - afterThread.frees, 2u);
    }
    cvtest::ScopedAllocationCounter fresh;
    EXPECT_EQ(fresh.counts().allocations, 0u);
}

TEST(AllocationCounter, InjectedFailuresThrowOrReturnNull) {
    if (!cvtest::allocationFailuresSupported())
        GTEST_SKIP() << "allocation cannot be made to fail in this build";
    cvtest::failAllocationsOnThisThread(2);
    EXPECT_THROW((void)std::make_unique<int[]>(8), std::bad_alloc);
    EXPECT_EQ(new (std::nothrow) int(3), nullptr);
    auto works = std::make_unique<int>(5);
    EXPECT_EQ(*works, 5);
}
