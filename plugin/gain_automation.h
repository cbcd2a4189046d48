#pragma once

// Volume automation on its way to the audio thread, and the gain slew the audio thread applies.
//
// Host automation arrives as events with a frame offset in the next block; they wait in a bounded ring
// (256 events) that several producers may fill at once (the host's automation on the audio thread and
// a host that also sets the parameter from its own UI thread), and the audio thread drains it at the
// start of each block. Changes without an offset, and events that find the ring full, become the
// "newest direct value": one atomic word holding the gain with its sequence number, which the audio
// thread applies after every older event of the block, so the gain always ends at the newest value
// sent. An event older than a direct value already applied is stale and is dropped.
//
// Sequence numbers are taken from one counter by every producer; ties of offset apply in sequence
// order, which is the order the values were sent.

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <span>
#include <type_traits>

namespace cv {

// One Volume event: frame offset within the host block, linear gain 0..1, send order.
// No member initialisers: the audio thread drains into an array on its stack that it need not clear.
struct GainAutomationEvent {
    std::int32_t offset;
    float gain;
    std::uint32_t sequence;
};
static_assert(sizeof(GainAutomationEvent) == 12);
static_assert(std::is_trivially_copyable_v<GainAutomationEvent>);

class GainAutomation {
public:
    static constexpr int kCapacity = 256;             // events queued between two blocks
    static constexpr int kMaxDrained = kCapacity + 1; // plus the newest direct value

    GainAutomation() noexcept;
    GainAutomation(const GainAutomation&) = delete;
    GainAutomation& operator=(const GainAutomation&) = delete;

    // Any thread, several at once: queues a gain for a frame offset of the next block. A full ring sets
    // the gain as the newest direct value and counts one overflow. Realtime: lock-free.
    void queueEvent(int sampleOffset, float gain) noexcept;
    // Any thread: the gain takes effect at the next block, after every older event. Realtime: lock-free.
    void setDirect(float gain) noexcept;
    // Any thread: events that found the ring full.
    std::uint64_t overflows() const noexcept { return overflows_.load(std::memory_order_relaxed); }
    // Any thread: events dropped because a newer value had already been applied.
    std::uint64_t staleDropped() const noexcept { return stale_.load(std::memory_order_relaxed); }
    // Any thread: the sequence number of the last value sent (0 before the first).
    std::uint32_t lastSequence() const noexcept { return sequence_.load(std::memory_order_relaxed); }

    // Audio thread: takes the queued events (offsets clamped to 0..frames-1) and the newest direct value
    // not yet applied, sorted by offset, ties by sequence; returns how many were written to out. The
    // direct value is placed at the offset of the last older event, so it applies after all of them.
    // Realtime: lock-free, no allocation.
    int drain(int frames, std::span<GainAutomationEvent, kMaxDrained> out) noexcept;

    // Audio thread, when it takes a reset: every value sent up to and including sequence counts as
    // applied (the reset set the gain since), so the next drains drop such events and such a direct
    // value. Realtime: wait-free.
    void settleThrough(std::uint32_t sequence) noexcept;

private:
    struct Cell {
        std::atomic<std::uint32_t> turn{0}; // the ring position this cell is ready for
        GainAutomationEvent event{};
    };
    static constexpr std::uint32_t kMask = kCapacity - 1;
    static_assert((kCapacity & kMask) == 0, "the ring's capacity is a power of two");

    bool tryPush(const GainAutomationEvent& event) noexcept;
    bool tryPop(GainAutomationEvent& event) noexcept;
    void offerDirect(std::uint32_t sequence, float gain) noexcept;

    std::array<Cell, kCapacity> cells_;
    std::atomic<std::uint32_t> writePos_{0};
    std::atomic<std::uint32_t> readPos_{0}; // the consumer's (the audio thread)
    std::atomic<std::uint32_t> sequence_{0};
    // The newest direct value: sequence in the high half, the gain's bits in the low half.
    std::atomic<std::uint64_t> direct_{0};
    std::atomic<std::uint64_t> overflows_{0};
    std::atomic<std::uint64_t> stale_{0};
    // Audio thread: the newest sequence settled, by a direct value applied or by a reset; events sent
    // up to it are stale.
    std::uint32_t settled_ = 0;

    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
    static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
};

// The gain the audio thread applies, moving toward its target by at most `step` per frame.
// Audio thread only (it takes a reset's gain at the start of a block).
class GainSlew {
public:
    // No slew after a reset: both at gain.
    void reset(float gain) noexcept { target_ = current_ = gain; }
    void setTarget(float gain) noexcept { target_ = gain; }
    // Realtime: wait-free. One frame: the target clamped to 0..1 (not finite -> 0), then current moves
    // toward it by at most step. Returns the current gain.
    float advance(float step) noexcept {
        const float target = std::isfinite(target_) ? std::clamp(target_, 0.0f, 1.0f) : 0.0f;
        target_ = target;
        current_ += std::clamp(target - current_, -step, step);
        return current_;
    }
    float current() const noexcept { return current_; }
    float target() const noexcept { return target_; }

private:
    float target_ = 1.0f;
    float current_ = 1.0f;
};

} // namespace cv
