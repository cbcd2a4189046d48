#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace cv {

// The cancellation token of one update check, shared by the checker and its fetch. Any thread may
// request cancellation; a fetch waiting on the network registers a wake-up so that it notices at once.
class UpdateCancellation {
public:
    // Sets the flag; the first request wakes every waiter and calls every registered wake-up.
    void request();

    bool cancelled() const noexcept { return cancelled_.load(std::memory_order_acquire); }

    // True at once when cancelled; else waits until cancelled or the time has passed. Returns the flag.
    bool waitFor(std::chrono::milliseconds duration) const;

    // Keeps a wake-up registered for as long as it lives; request() calls it under the token's mutex,
    // so once the registration is gone the wake-up is never called again.
    class WakeRegistration {
    public:
        WakeRegistration(const UpdateCancellation& token, std::function<void()> wake);
        WakeRegistration(const WakeRegistration&) = delete;
        WakeRegistration& operator=(const WakeRegistration&) = delete;
        ~WakeRegistration();

    private:
        const UpdateCancellation& token_;
        std::uint64_t id_ = 0;
    };

private:
    std::atomic<bool> cancelled_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable wake_;
    mutable std::map<std::uint64_t, std::function<void()>> wakeUps_; // guarded by mutex_
    mutable std::uint64_t nextWakeUpId_ = 1;                         // guarded by mutex_
};

// How the checker fetches the manifest: true with the body on success, false with a sentence in error.
// maxBytes caps the body, timeoutMs bounds the exchange, and a cancelled token ends it early.
using UpdateFetch =
    std::function<bool(const std::string& url, std::size_t maxBytes, int timeoutMs,
                       const UpdateCancellation& cancellation, std::string& body, std::string& error)>;

} // namespace cv
