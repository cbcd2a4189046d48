#include "plugin/update_cancellation.h"

namespace cv {

void UpdateCancellation::request() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_.exchange(true, std::memory_order_acq_rel)) {
        return;
    }
    wake_.notify_all();
    for (const auto& [id, wakeUp] : wakeUps_) {
        wakeUp();
    }
}

bool UpdateCancellation::waitFor(std::chrono::milliseconds duration) const {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, duration, [this] { return cancelled(); });
    return cancelled();
}

UpdateCancellation::WakeRegistration::WakeRegistration(const UpdateCancellation& token,
                                                       std::function<void()> wake)
    : token_(token) {
    const std::lock_guard<std::mutex> lock(token_.mutex_);
    id_ = token_.nextWakeUpId_++;
    token_.wakeUps_.emplace(id_, std::move(wake));
}

UpdateCancellation::WakeRegistration::~WakeRegistration() {
    const std::lock_guard<std::mutex> lock(token_.mutex_);
    token_.wakeUps_.erase(id_);
}

} // namespace cv
