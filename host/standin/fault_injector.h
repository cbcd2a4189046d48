#pragma once

// A hook that makes a plug-in under test throw inside one of its callbacks: the test arms a callback,
// and the plug-in's next pass through an injection point for that callback throws InjectedFault.
// A plug-in calls check() where it wants faults injectable (a test plug-in at the top of each callback
// body, a real plug-in in a test seam).
//
// Threads: arm and check from any thread; check is wait-free and allocates nothing unless it throws.

#include "host/standin/callback.h"

#include <array>
#include <atomic>
#include <stdexcept>
#include <string>

namespace cv::standin {

class InjectedFault : public std::runtime_error {
public:
    explicit InjectedFault(Callback callback)
        : std::runtime_error(std::string("Injected fault in ") + callbackName(callback)),
          callback_(callback) {}
    Callback callback() const noexcept { return callback_; }

private:
    Callback callback_;
};

class FaultInjector {
public:
    // The next `count` passes through `callback`'s injection points throw (0 disarms).
    void arm(Callback callback, int count = 1) noexcept;
    // Throws InjectedFault when `callback` is armed, using up one of its throws.
    void check(Callback callback);
    // Throws made so far.
    int thrown() const noexcept { return thrown_.load(std::memory_order_relaxed); }

private:
    static constexpr int kCallbacks = static_cast<int>(Callback::Destroy) + 1;
    std::array<std::atomic<int>, kCallbacks> armed_{};
    std::atomic<int> thrown_{0};
};

} // namespace cv::standin
