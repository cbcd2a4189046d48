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
    // Each way of taking memory counts by itself.
    using Take = std::pair<const char*, void* (*)()>;
    for (const auto& [name, take] : {Take{"calloc", [] { return std::calloc(4, 4); }},
                                     Take{"aligned_alloc", [] { return std::aligned_alloc(64, 64); }},
                                     Take{"posix_memalign", [] {
                                              void* p = nullptr;
                                              return ::posix_memalign(&p, 64, 64) == 0 ? p : nullptr;
                                          }}}) {
        SCOPED_TRACE(name);
        const auto before = scope.violations();
        gSink = take();
        const auto taken = scope.violations();
        std::free(gSink);
        EXPECT_GE(taken.allocations - before.allocations, 1u);
        EXPECT_GE(scope.violations().frees - taken.frees, 1u);
    }
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
    const auto lockTotal = cv::standin::totalViolations();
    EXPECT_GE(lockTotal.mutexCalls - before.mutexCalls, 2u);
    EXPECT_GE(lockTotal.conditionCalls - before.conditionCalls, 1u);
}

TEST(RealtimeCheck, NothingIsFlaggedOutsideAScope) {
    const auto before = cv::standin::totalViolations();
    const auto threadBefore = cv::standin::threadCounts();
    allocateAndFree();
    std::mutex m;
    std::condition_variable cv;
    { std::lock_guard lock(m); }
    cv.notify_one();
    EXPECT_EQ(cv::standin::totalViolations(), before);
    const auto thread = cv::standin::threadCounts();
    EXPECT_GT(thread.allocations, threadBefore.allocations);
    EXPECT_GE(thread.mutexCalls - threadBefore.mutexCalls, 2u);
    EXPECT_GE(thread.conditionCalls - threadBefore.conditionCalls, 1u);
}

} // namespace
