#pragma once

// The audio configuration handed from the thread that resets audio to the main thread and to the audio
// thread under a sequence lock: the writer makes the sequence odd, stores the fields, then makes it even
// again; a reader accepts a copy only when it read the same even sequence before and after the fields.
// The audio thread takes each new configuration at the start of a block, so a reset never changes what
// a block in progress uses.
//
// Threads: one writer at a time (OnReset); readers on any thread. Fields are relaxed atomics between
// fences, so a torn read is detected instead of being a data race.

#include <atomic>
#include <cstdint>
#include <optional>

namespace cv {

struct AudioConfigRecord {
    std::uint64_t sequence = 0; // even; 0 before the first publish
    double engineRateHz = 0.0;
    std::uint32_t internalBlockFrames = 0;
    std::uint32_t channels = 0; // connected input channels clamped to 1..2
    // What the audio thread resets to: the Volume gain 0..1 (no slew after a reset), and the sequence
    // number of the last Volume value sent before the reset (that one and older ones are dropped).
    float volumeGain = 1.0f;
    std::uint32_t volumeSequence = 0;
};

class AudioConfigSeqLock {
public:
    // Publishes a configuration (its sequence field is ignored); returns its (even) sequence.
    std::uint64_t publish(const AudioConfigRecord& record) noexcept {
        const std::uint64_t odd = sequence_.load(std::memory_order_relaxed) | 1u;
        sequence_.store(odd, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        rate_.store(record.engineRateHz, std::memory_order_relaxed);
        block_.store(record.internalBlockFrames, std::memory_order_relaxed);
        channels_.store(record.channels, std::memory_order_relaxed);
        volumeGain_.store(record.volumeGain, std::memory_order_relaxed);
        volumeSequence_.store(record.volumeSequence, std::memory_order_relaxed);
        sequence_.store(odd + 1, std::memory_order_release);
        return odd + 1;
    }

    // The current sequence (odd while a publish is in progress). Realtime: wait-free.
    std::uint64_t sequence() const noexcept { return sequence_.load(std::memory_order_acquire); }

    // One attempt: the record, or empty when a publish was in progress or overlapped the read.
    // Realtime: wait-free.
    std::optional<AudioConfigRecord> tryRead() const noexcept {
        AudioConfigRecord record;
        const std::uint64_t before = sequence_.load(std::memory_order_acquire);
        if ((before & 1u) != 0)
            return std::nullopt;
        record.engineRateHz = rate_.load(std::memory_order_relaxed);
        record.internalBlockFrames = block_.load(std::memory_order_relaxed);
        record.channels = channels_.load(std::memory_order_relaxed);
        record.volumeGain = volumeGain_.load(std::memory_order_relaxed);
        record.volumeSequence = volumeSequence_.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) != before)
            return std::nullopt;
        record.sequence = before;
        return record;
    }

private:
    std::atomic<std::uint64_t> sequence_{0};
    std::atomic<double> rate_{0.0};
    std::atomic<std::uint32_t> block_{0};
    std::atomic<std::uint32_t> channels_{0};
    std::atomic<float> volumeGain_{1.0f};
    std::atomic<std::uint32_t> volumeSequence_{0};

    static_assert(std::atomic<double>::is_always_lock_free);
    static_assert(std::atomic<float>::is_always_lock_free);
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
};

} // namespace cv
