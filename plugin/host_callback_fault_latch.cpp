#include "plugin/host_callback_fault_latch.h"

namespace cv {

void HostCallbackFaultLatch::ReportHostCallbackFailure(Domain domain) const noexcept {
    mask_.fetch_or(domain, std::memory_order_acq_rel);
    if (domain == Audio)
        muted_.store(true, std::memory_order_release);
    if (!surfaced_.load(std::memory_order_acquire))
        surfacePending_.store(true, std::memory_order_release);
}

const char* HostCallbackFaultLatch::ClaimNotice() noexcept {
    if (surfaced_.load(std::memory_order_acquire))
        return nullptr;
    if (!surfacePending_.exchange(false, std::memory_order_acq_rel))
        return nullptr;
    bool expected = false;
    if (!surfaced_.compare_exchange_strong(expected, true, std::memory_order_acq_rel))
        return nullptr;
    const std::uint32_t mask = DomainMask();
    if (mask == 0)
        return nullptr;
    return (mask & Audio) != 0 ? kAudioMessage : kGenericMessage;
}

void HostCallbackFaultLatch::ReleaseUnshownNotice() noexcept {
    surfaced_.store(false, std::memory_order_release);
    surfacePending_.store(true, std::memory_order_release);
}

} // namespace cv
