#pragma once

#include "engine/audio/audio_buffer.h"
#include "engine/playback/node_mailbox.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace np {

// Plays the note audition on the audio thread in place of the host's output: the buffer the
// note-audition worker made is looped over its steady middle two thirds (a 30 ms equal-power seam joins
// the loop's end to its start) for as long as the drag lasts. A newer buffer cross-fades in over 10 ms
// (quarter sine) at the same position; the voice fades in and out over 5 ms, and the host's output is
// ducked out over 5 ms while the voice sounds and back in afterwards.
//
// Threads: setSource, clear, drainRetired and outstanding belong to the main thread; prepare may come
// from whatever thread resets audio, its values reaching the audio thread through relaxed atomics read
// once per block; processReplace is the audio thread's and takes no lock, allocates nothing and frees
// nothing (buffers travel through a NodeMailbox and come back through its retired stack).
class AuditionVoice {
public:
    struct BufferNode {
        AudioBuffer audio;
        BufferNode* next = nullptr;
    };

    enum class State : std::uint8_t { Idle = 0, FadingIn = 1, Sounding = 2, FadingOut = 3 };

    static constexpr double kDefaultSampleRate = 48000.0;
    static constexpr double kFadeSeconds = 0.005;     // the voice's fades and the host's duck
    static constexpr double kCrossfadeSeconds = 0.01; // from one buffer to the next
    static constexpr double kSeamSeconds = 0.03;      // the loop's seam

    AuditionVoice() noexcept;
    ~AuditionVoice();
    AuditionVoice(const AuditionVoice&) = delete;
    AuditionVoice& operator=(const AuditionVoice&) = delete;

    // Any non-realtime thread (after each audio reset): the engine rate; one not finite or outside
    // 8000..384000 Hz becomes 48000. Sets the fade step, the cross-fade and the seam lengths.
    void prepare(double sampleRate) noexcept;
    double sampleRate() const noexcept { return sampleRate_.load(std::memory_order_relaxed); }

    // Main thread: plays buffer (cross-fading from the one playing); a null or empty buffer clears.
    // Throws std::bad_alloc (nothing is handed over then).
    void setSource(std::unique_ptr<AudioBuffer> buffer);
    // Main thread: the voice fades out and the host's output comes back.
    void clear() noexcept;
    // Main thread (the idle loop, every tick): frees the buffers the audio thread has finished with.
    // Returns the number freed.
    std::int64_t drainRetired() noexcept;
    // Main thread: buffers handed over and not yet freed (diagnostics).
    std::int64_t outstanding() const noexcept { return mailbox_.outstanding(); }
    // Any thread: hand-overs that displaced or parked a buffer.
    std::uint64_t overflows() const noexcept { return mailbox_.overflows(); }
    // Any thread: whether the voice was fading or sounding at the end of the last block.
    bool sounding() const noexcept { return sounding_.load(std::memory_order_relaxed); }

    // Audio thread, after the player has written the block: out[c][0..frames) = out x duck + voice x
    // level for each present plane of the channels; a mono buffer feeds every channel. While idle with
    // the host fully back, the output is left untouched. Realtime: wait-free, no allocation.
    void processReplace(float* const* out, int channels, int frames) noexcept;

private:
    // Lengths read once per block from what prepare stored.
    struct Timing {
        float levelStep = 0.0f;
        std::int64_t crossfadeFrames = 1;
        std::int64_t seamFrames = 1;
    };

    Timing timing() const noexcept;
    void takeNewNode(const Timing& timing) noexcept;
    void setLoopBounds(const AudioBuffer& audio, std::int64_t seamFrames) noexcept;
    void retire(BufferNode*& node) noexcept;

    NodeMailbox<BufferNode> mailbox_;

    // Audio thread only (and the destructor).
    BufferNode* playing_ = nullptr;
    BufferNode* fading_ = nullptr;
    State state_ = State::Idle;
    std::int64_t position_ = 0;
    float level_ = 0.0f;
    float duck_ = 1.0f;
    std::int64_t crossfadeRemaining_ = 0;
    std::int64_t crossfadeTotal_ = 1; // the cross-fade length when it started
    std::int64_t loopStart_ = 0;
    std::int64_t loopEnd_ = 0;
    std::atomic<bool> sounding_{false};

    // Written by prepare, read by the audio thread once per block.
    std::atomic<double> sampleRate_{kDefaultSampleRate};
    std::atomic<float> levelStep_{0.0f};
    std::atomic<std::int64_t> crossfadeFrames_{1};
    std::atomic<std::int64_t> seamFrames_{1};

    static_assert(std::atomic<double>::is_always_lock_free);
    static_assert(std::atomic<float>::is_always_lock_free);
    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
    static_assert(std::atomic<bool>::is_always_lock_free);
};

} // namespace np
