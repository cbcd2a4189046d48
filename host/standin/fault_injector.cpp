#include "host/standin/fault_injector.h"

namespace cv::standin {

void FaultInjector::arm(Callback callback, int count) noexcept {
    armed_[static_cast<std::size_t>(callback)].store(count > 0 ? count : 0, std::memory_order_relaxed);
}

void FaultInjector::check(Callback callback) {
    auto& left = armed_[static_cast<std::size_t>(callback)];
    int n = left.load(std::memory_order_relaxed);
    while (n > 0) {
        if (left.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
            thrown_.fetch_add(1, std::memory_order_relaxed);
            throw InjectedFault(callback);
        }
    }
}

} // namespace cv::standin
