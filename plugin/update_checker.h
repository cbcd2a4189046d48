#pragma once

#include "plugin/update_cancellation.h"
#include "plugin/update_manifest.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace cv {

// Asks the update service, on a thread of its own, whether a newer version exists. No check starts by
// itself: only start() starts one. The main thread calls start, takeResult and the destructor; the
// check thread runs the fetch and the parser and stores one result under the mutex.
class UpdateChecker {
public:
    // Fetches with fetchHttpsText, over HTTPS trusting the system's certificate store.
    UpdateChecker();
    // Fetches with any function (an empty one makes every check fail), so the logic runs without the
    // network.
    explicit UpdateChecker(UpdateFetch fetch);

    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

    // Cancels the running check and waits for its thread; a fetch notices within milliseconds.
    ~UpdateChecker();

    // Starts a check of currentVersion against the manifest at updateManifestUrl(). False, changing
    // nothing, while a check runs; false also when the thread cannot be started.
    bool start(const std::string& currentVersion);

    // True from start until the check thread has stored its result (or dropped it when cancelled).
    bool running() const noexcept { return running_.load(std::memory_order_acquire); }

    // The finished result, moved out of its slot; empty while a check runs or when none waits.
    std::optional<UpdateCheckResult> takeResult();

private:
    void runCheck(const std::string& currentVersion, const std::shared_ptr<UpdateCancellation>& token,
                  const UpdateFetch& fetch);
    void storeUnlessCancelled(UpdateCheckResult result, const UpdateCancellation& token);

    std::thread thread_;
    std::atomic<bool> running_{false};
    std::shared_ptr<UpdateCancellation> cancellation_; // the current check's token
    UpdateFetch fetch_;
    std::mutex mutex_;
    std::optional<UpdateCheckResult> result_; // guarded by mutex_
};

} // namespace cv
