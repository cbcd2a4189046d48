#pragma once

#include "engine/audio/audio_buffer.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace np {

// Records a section of the track's audio on the host's audio thread while the transport plays,
// together with the host timeline position of its first frame. The main thread prepares the recorder
// after each audio configuration change, arms it (allocating the whole buffer there) and takes the
// finished capture; the audio thread only copies samples and moves the atomic state word.
//
// Memory follows the recording: the buffer is allocated without being written, so the system supplies
// its pages only as they are first touched, and a short capture costs what it recorded rather than
// the whole buffer. So that the audio thread does not take those first-touch page faults, the main
// thread has the pages backed a bounded distance ahead of the recording position (`prefaultAhead`,
// from the idle loop; `arm` does the first stretch). It asks the system to populate them without
// writing a byte, so it never races the audio thread's writes to the same pages; the audio thread
// publishes its position through the atomic frame count. Should the idle loop fall behind, the audio
// thread faults the pages in itself, which costs time but records the same samples. Where the system
// cannot populate pages that way, `arm` writes the whole buffer instead, as a buffer zeroed up front.
//
// Ownership of the buffer follows the state: the main thread allocates it in `arm` (idle) and frees it
// in `takeCapture` (done), on withdrawing an arm (armed -> idle) and in `prepare`; the audio thread
// writes it only in the in-block state, which it claims by compare-exchange. Whoever moves the state
// to finishing also stores the end reason and then done, so a capture the main thread has already
// finished or taken is never touched again by the audio thread.
class TransferCapture {
public:
    enum class State : std::uint32_t {
        Idle = 0,
        Armed = 1,           // waiting for the transport
        Recording = 2,       // between blocks
        InBlock = 3,         // the audio thread is writing
        CancelRequested = 4, // the main thread asked to stop during a block
        Finishing = 5,
        Done = 6, // ready to take
    };
    enum class EndReason : std::uint32_t {
        None = 0,
        TransportStopped = 1,
        Cancelled = 2,
        BufferFull = 3, // time or memory limit
        TimelineJumped = 4,
    };
    enum class ArmStatus : std::uint32_t {
        Ok = 0,
        NotPrepared = 1,
        AlreadyActive = 2,
        TooLarge = 3, // or no memory budget left
        AllocationFailed = 4,
    };
    enum class FinishStatus : std::uint32_t { Ok = 0, OutOfMemory = 1 };
    // What `cancel` did.
    enum class CancelOutcome { NothingActive, ArmWithdrawn, Finished, RequestedFromBlock };

    // The result of a take.
    struct Capture {
        AudioBuffer audio; // channels x frames recorded
        double sampleRate = 0.0;
        std::int64_t startPosition = 0; // host timeline, engine frames
        EndReason endReason = EndReason::None;
    };

    // 192 MiB: the largest capture buffer.
    static constexpr std::uint64_t kMaxBufferBytes = 201326592;
    // 512 MiB: the audio working set the capture shares with the session.
    static constexpr std::uint64_t kWorkingSetBytes = 536870912;
    static constexpr double kMaxSeconds = 1200.0;
    static constexpr double kMinRateHz = 8000.0;
    static constexpr double kMaxRateHz = 384000.0;
    // How far ahead of the recording position the buffer's pages are kept backed: long enough to ride
    // out a main thread that stalls for a while, short enough to be a few MB at most.
    static constexpr double kPrefaultLeadSeconds = 2.0;

    TransferCapture() = default;
    TransferCapture(const TransferCapture&) = delete;
    TransferCapture& operator=(const TransferCapture&) = delete;

    // Main thread, after an audio reset, while `process` is not being called: frees any buffer and
    // sets the recorder up for channels (1 or 2) at sampleRate (8000..384000 Hz) for at most
    // maxSeconds (finite, above 0; capped at 1200 s). Returns false (recorder unprepared, arm status
    // NotPrepared) for invalid settings or when the limits leave no frame.
    bool prepare(int channels, double sampleRate, double maxSeconds);

    // Main thread: allocates the buffer for half of what bytesInUse leaves of the 512 MiB working set
    // (at most 192 MiB and at most the time limit) and waits for the transport. Returns false with the
    // reason in armStatus(); nothing is allocated then. A full working set leaves the sizes of the last
    // arm; a budget of no frame zeroes them; a failed allocation leaves the sizes it tried.
    bool arm(std::uint64_t bytesInUse);

    // Audio thread, every block: starts when armed and the transport runs, appends the block while the
    // host position advances without a jump, and ends on transport stop, cancel, jump or a full buffer.
    // Input channel min(c, channels - 1) feeds recorded channel c; a null plane records silence.
    // Realtime: lock-free, no allocation.
    void process(const float* const* in, int channels, int frames, bool transportRunning,
                 std::int64_t hostPosition) noexcept;

    // Main thread: in the done state, returns the recorded audio and frees the buffer (state idle).
    // Null in any other state, or when the result cannot be built (finish status OutOfMemory; the
    // recording is lost and the recorder is idle).
    std::unique_ptr<Capture> takeCapture();

    // Main thread, from the idle loop while the recorder is active: has the system back the buffer's
    // pages up to kPrefaultLeadSeconds ahead of the recording position (in steps of half that), without
    // writing them. Does nothing in any other state; a refusal of the system is retried on the next call.
    void prefaultAhead() noexcept;

    // Main thread: withdraws an arm (freeing the buffer), finishes a recording that is between blocks
    // (end reason Cancelled), or asks the audio thread to finish the block it is writing. After
    // RequestedFromBlock (also returned when the audio thread took the finish first) the capture is
    // done once state() says so.
    CancelOutcome cancel() noexcept;

    // Any thread.
    State state() const noexcept { return static_cast<State>(state_.load()); }
    EndReason endReason() const noexcept { return static_cast<EndReason>(endReason_.load()); }
    ArmStatus armStatus() const noexcept { return static_cast<ArmStatus>(armStatus_.load()); }
    FinishStatus finishStatus() const noexcept { return static_cast<FinishStatus>(finishStatus_.load()); }
    std::int64_t framesWritten() const noexcept { return framesWritten_.load(); }
    bool isActive() const noexcept;

    // Main thread: the settings of the last prepare and arm.
    int channels() const noexcept { return channels_.load(std::memory_order_relaxed); }
    double sampleRate() const noexcept { return sampleRate_; }
    std::int64_t timeLimitFrames() const noexcept { return timeLimitFrames_; }
    std::int64_t capacityFrames() const noexcept { return capacityFrames_; }
    std::int64_t armedFrames() const noexcept { return armedFrames_.load(std::memory_order_relaxed); }
    std::uint64_t totalSamples() const noexcept { return totalSamples_; }
    std::uint64_t totalBytes() const noexcept { return totalBytes_; }
    bool memoryLimited() const noexcept { return memoryLimited_; }

private:
    void releaseBuffer() noexcept;
    // Main thread: backs frames [from, to) of every plane; false when the system refused.
    bool prefaultPlanes(std::int64_t from, std::int64_t to) noexcept;
    std::int64_t prefaultLeadFrames() const noexcept;

    std::unique_ptr<float[]> buffer_; // planar: channel c at c * armedFrames; written only as recorded
    // Main thread: frames of every plane whose pages are backed (or were written by the arm).
    std::int64_t prefaultedFrames_ = 0;
    // Read by the audio thread before it claims a state, hence atomic.
    std::atomic<std::int32_t> channels_{0};
    double sampleRate_ = 0.0;
    std::int64_t timeLimitFrames_ = 0;
    std::int64_t capacityFrames_ = 0;
    std::atomic<std::int64_t> armedFrames_{0};
    // Written by the audio thread in the in-block state, read by the main thread once done.
    std::atomic<std::int64_t> startPosition_{0};
    std::uint64_t totalSamples_ = 0;
    std::uint64_t totalBytes_ = 0;
    bool memoryLimited_ = false;
    std::atomic<std::int64_t> framesWritten_{0};
    std::atomic<std::uint32_t> endReason_{0};
    std::atomic<std::uint32_t> armStatus_{0};
    std::atomic<std::uint32_t> finishStatus_{0};
    std::atomic<std::uint32_t> state_{0};

    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
    static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
};

// Moves a saved timeline frame from one sample rate to another: frame x toRate / fromRate computed
// exactly (in 128-bit integers), rounded to nearest with halves away from zero. False when either rate is not
// finite or outside 8000..384000 Hz, or the result does not fit a signed 64-bit integer.
bool scaleFramePosition(std::int64_t frame, double fromRate, double toRate, std::int64_t& out) noexcept;

namespace detail {
// Ends a capture with reason when the state is still the audio thread's (in block or cancel
// requested): moves it to finishing, stores the reason, then done. When the main thread has already
// finished or taken the capture, nothing is written and false is returned. Realtime: lock-free.
bool finishCaptureIfOwned(std::atomic<std::uint32_t>& state, std::atomic<std::uint32_t>& endReason,
                          TransferCapture::EndReason reason) noexcept;

// Has the system back the pages that hold [first, first + count) with writable memory now, without
// writing them, so another thread may be writing the same floats meanwhile. False when the system
// cannot (a kernel without the request, no memory). Any thread.
bool prefaultFloats(float* first, std::size_t count) noexcept;
} // namespace detail

} // namespace np
