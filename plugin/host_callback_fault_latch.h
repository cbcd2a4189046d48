#pragma once

// Records faults caught by the guards around the host callbacks, so that no exception reaches the host:
// which domains faulted, whether the output must stay silent, and whether the one sticky notice still
// has to be shown. An audio fault mutes the output until the next successful reset; every fault is shown
// at most once per plug-in object.
//
// Threads: Report from any thread, also the audio thread (atomics only); ClearMuted from the thread
// that resets audio; the surfacing pair on the main thread. Every member is atomic.

#include <atomic>
#include <cstdint>

namespace cv {

class HostCallbackFaultLatch {
public:
    enum Domain : std::uint32_t {
        Audio = 1, // ProcessBlock, OnReset
        UI = 2,    // OnIdle, OnUIOpen, OnParentWindowResize
        State = 4, // SerializeState, OnRestoreStateBegin
    };

    static constexpr const char* kAudioMessage =
        "Corvalinth muted its output after an audio error. Save the DAW project, then reload the plug-in.";
    static constexpr const char* kGenericMessage =
        "Corvalinth encountered an error. Save the DAW project, then reload the plug-in.";

    // Records a fault: ORs the domain into the mask; Audio also mutes; unless the notice was already
    // shown, a notice is pending. Callable from const callbacks. Realtime: wait-free.
    void ReportHostCallbackFailure(Domain domain) const noexcept;

    // Realtime: wait-free.
    bool Muted() const noexcept { return muted_.load(std::memory_order_acquire); }
    // After a reset that completed: the output plays again (the notice stays).
    void ClearMuted() noexcept { muted_.store(false, std::memory_order_release); }
    std::uint32_t DomainMask() const noexcept { return mask_.load(std::memory_order_acquire); }

    // Main thread: claims the pending notice. Returns the sentence to show, or null when nothing is to
    // be shown (already shown, nothing pending, or claimed by another caller). After a claim the caller
    // must report whether it showed it.
    const char* ClaimNotice() noexcept;
    // The claimed notice could not be shown: it becomes pending again for a later tick.
    void ReleaseUnshownNotice() noexcept;

private:
    mutable std::atomic<std::uint32_t> mask_{0};
    mutable std::atomic<bool> muted_{false};
    mutable std::atomic<bool> surfacePending_{false};
    std::atomic<bool> surfaced_{false};

    static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
    static_assert(std::atomic<bool>::is_always_lock_free);
};

} // namespace cv
