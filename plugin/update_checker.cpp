#include "plugin/update_checker.h"

#include "plugin/update_fetch_curl.h"

namespace cv {

namespace {

constexpr int kFetchTimeoutMs = 10000;
constexpr const char* kCheckFailedSentence = "Couldn't check for updates.";

} // namespace

UpdateChecker::UpdateChecker() : UpdateChecker(fetchHttpsText) {}

UpdateChecker::UpdateChecker(UpdateFetch fetch) : fetch_(std::move(fetch)) {}

UpdateChecker::~UpdateChecker() {
    if (cancellation_) {
        cancellation_->request();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool UpdateChecker::start(const std::string& currentVersion) {
    if (running_.exchange(true, std::memory_order_acq_rel)) {
        return false;
    }
    try {
        if (thread_.joinable()) {
            thread_.join();
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            result_.reset();
        }
        cancellation_ = std::make_shared<UpdateCancellation>();
        thread_ = std::thread([this, version = currentVersion, token = cancellation_, fetch = fetch_] {
            runCheck(version, token, fetch);
        });
    } catch (...) {
        running_.store(false, std::memory_order_release);
        return false;
    }
    return true;
}

std::optional<UpdateCheckResult> UpdateChecker::takeResult() {
    if (running()) {
        return std::nullopt;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    std::optional<UpdateCheckResult> taken = std::move(result_);
    result_.reset();
    return taken;
}

void UpdateChecker::runCheck(const std::string& currentVersion,
                             const std::shared_ptr<UpdateCancellation>& token, const UpdateFetch& fetch) {
    try {
        UpdateCheckResult result;
        result.message = kCheckFailedSentence;
        if (fetch) {
            std::string body;
            std::string error;
            if (fetch(updateManifestUrl(), kUpdateManifestMaxBytes, kFetchTimeoutMs, *token, body, error)) {
                result = parseUpdateManifest(body, currentVersion);
            } else if (!error.empty()) {
                result.message = error;
            }
        }
        storeUnlessCancelled(std::move(result), *token);
    } catch (...) {
        try {
            UpdateCheckResult failed;
            failed.message = kCheckFailedSentence;
            storeUnlessCancelled(std::move(failed), *token);
        } catch (...) {
            // Nothing can be stored without memory; the check ends without a result.
        }
    }
    running_.store(false, std::memory_order_release);
}

void UpdateChecker::storeUnlessCancelled(UpdateCheckResult result, const UpdateCancellation& token) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!token.cancelled()) {
        result_ = std::move(result);
    }
}

} // namespace cv
