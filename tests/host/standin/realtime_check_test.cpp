#include "host/standin/realtime_check.h"

#include <condition_variable>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using cv::standin::RealtimeScope;

// Kept in a volatile so the compiler cannot drop an allocation and its free as unused.
void* volatile gSink = nullptr;

void allocateAndFree() {
    gSink = std::malloc(8);
    std::free(gSink);
}

TEST(RealtimeCheck, CountsThisThreadsCallsInsideTheScopeOnly) {
    const auto before = cv::standin::totalViolations();
    RealtimeScope scope;
    EXPECT_FALSE(scope.violations().any());

    gSink = ::operator new(8);
    ::operator delete(gSink);
    gSink = std::malloc(16);
    gSink = std::realloc(gSink, 64); // one allocation and one free
    std::free(gSink);
    const auto afterAllocations = scope.violations();
    // Another thread's allocations do not count here (starting and joining it takes a few).
    std::thread other([] {
        for (int i = 0; i < 1000; ++i)
            allocateAndFree();
    });
    other.join();
    EXPECT_LT(scope.violations().allocations - afterAllocations.allocations, 100u);

    EXPECT_GE(afterAllocations.allocations, 3u);
    EXPECT_GE(afterAllocations.frees, 3u);
    const auto total = cv::standin::totalViolations();
    EXPECT_GE(total.allocations - before.allocations, afterAllocations.allocations);

    std::mutex m;
    std::condition_variable cv;
    const auto beforeLocks = scope.violations();
    { std::lock_guard lock(m); }
    cv.notify_one();
    const auto locks = scope.violations();
    EXPECT_EQ(locks.mutexCalls - beforeLocks.mutexCalls, 2u); // lock and unlock
    EXPECT_EQ(locks.conditionCalls - beforeLocks.conditionCalls, 1u);
}

TEST(RealtimeCheck, NothingIsFlaggedOutsideAScope) {
    const auto before = cv::standin::totalViolations();
    const auto threadBefore = cv::standin::threadCounts();
    allocateAndFree();
    EXPECT_EQ(cv::standin::totalViolations(), before);
    EXPECT_GT(cv::standin::threadCounts().allocations, threadBefore.allocations);
}

} // namespace
