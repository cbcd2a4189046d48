#pragma once

// Lets a concurrency test step a worker's jobs through without sleeping: each job calls pass(), which
// counts its start and waits until the test releases one job or the job's own stop test says stop, so
// the test decides when every job ends.

#include <atomic>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

namespace cvtest {

struct StepGate {
    std::atomic<int> started{0};
    std::atomic<int> released{0};

    // Called by a job: true once the test released it, false when stopEarly() turned true first.
    template <class StopEarly>
    bool pass(StopEarly&& stopEarly) {
        ++started;
        for (;;) {
            if (stopEarly())
                return false;
            int open = released.load();
            if (open > 0 && released.compare_exchange_weak(open, open - 1))
                return true;
            std::this_thread::yield();
        }
    }
    bool pass() {
        return pass([] { return false; });
    }

    // Lets one waiting (or the next) job go on.
    void release() { ++released; }

    // Waits until count jobs have started; false when stillComing() turned false first (the worker went
    // idle without starting them).
    template <class StillComing>
    bool waitStarted(int count, StillComing&& stillComing) const {
        while (started.load() < count) {
            if (!stillComing())
                return started.load() >= count;
            std::this_thread::yield();
        }
        return true;
    }
    void waitStarted(int count) const {
        waitStarted(count, [] { return true; });
    }
};

// Waits until a worker is idle and takes its result, if any; the worker said beforehand whether one
// was waiting (the idle loop's settling in the plug-in's tests relies on it).
template <class Worker>
auto settle(Worker& worker) -> decltype(worker.takeResult()) {
    while (worker.busy())
        std::this_thread::yield();
    const bool waiting = worker.resultWaiting();
    auto result = worker.takeResult();
    EXPECT_EQ(waiting, result.has_value()) << "resultWaiting() before takeResult()";
    EXPECT_FALSE(worker.resultWaiting()) << "after takeResult()";
    return result;
}

} // namespace cvtest
