#pragma once

// Free-running mode of the stand-in host, for stress and ThreadSanitizer: a real audio thread looping
// over a transport script (from its start again at its end) as fast as it can, and a main thread that
// runs OnIdle every 20 ms of real time and the work posted to it (editor commands). Host threads are
// any other threads calling the host's state, automation and configuration calls.
//
// Tests wait for progress with waitForBlocks and the futures, never with sleeps.

#include "host/standin/standin_host.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <thread>

namespace cv::standin {

class FreeRunner {
public:
    // Starts both threads. Throws std::invalid_argument for an empty script.
    FreeRunner(StandinHost& host, TransportScript script);
    // Stops and joins both threads.
    ~FreeRunner();
    FreeRunner(const FreeRunner&) = delete;
    FreeRunner& operator=(const FreeRunner&) = delete;

    // Stops after the block in progress and the main-thread work in progress; idempotent. Posted work
    // that has not run yet is dropped (its future reports std::future_error broken_promise).
    void stop();

    // Runs `work` on the main thread between idle ticks; the future carries its exception, if any.
    std::future<void> onMainThread(std::function<void()> work);
    // Runs `work` on a new host thread.
    static std::future<void> onHostThread(std::function<void()> work);

    // Waits until the audio thread has finished `count` more blocks than when called, or stopped.
    void waitForBlocks(std::int64_t count);
    // Waits until the main thread has run `count` more idle ticks than when called, or stopped.
    void waitForIdleTicks(std::int64_t count);

private:
    void audioLoop();
    void mainLoop();

    StandinHost& host_;
    const TransportScript script_;
    std::mutex mutex_;
    std::condition_variable wake_;     // the main thread: work posted, or stop
    std::condition_variable progress_; // waiters: a block or an idle tick done
    bool stopping_ = false;
    std::int64_t blocks_ = 0;
    std::int64_t idleTicks_ = 0;
    std::deque<std::packaged_task<void()>> work_;
    std::thread audio_;
    std::thread main_;
};

} // namespace cv::standin
