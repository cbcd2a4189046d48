#pragma once

#include "engine/playback/node_mailbox.h"
#include "engine/playback/playback_source.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace np {

// Plays the current region (the rendered edit, or the captured audio until a render arrives) in place
// of the track's input wherever the host timeline lies inside it, sample-aligned: a region anchored at
// host frame A plays its frame k at host frame A + k. Outside the region, while the transport is
// stopped, while compare ("Original") is on, and for a region of another playback generation, the
// input passes through. Nothing clicks: a new region cross-fades from the old one, the region's own
// edges are ramped, and the substitution as a whole slews in and out, all over fadeFrames.
//
// Threads: setRegion, clearRegion and drainRetired may come from several non-realtime threads (main,
// state restore, the offline render path) and are serialised by a mutex; processBlock is the audio
// thread's and takes no lock, allocates nothing and frees nothing.
class HostSyncedPlayer {
public:
    struct RegionNode {
        PlaybackSource source;
        std::int64_t startFrame = 0; // host timeline, engine frames
        std::uint64_t generation = 0;
        RegionNode* next = nullptr;
    };

    // The ramp length before the first audio configuration.
    static constexpr std::int64_t kDefaultFadeFrames = 240;

    HostSyncedPlayer();
    ~HostSyncedPlayer();
    HostSyncedPlayer(const HostSyncedPlayer&) = delete;
    HostSyncedPlayer& operator=(const HostSyncedPlayer&) = delete;

    // Non-realtime: plays source from startFrame for the given playback generation; a null source
    // clears. A region published over another replaces it if the audio thread has not taken it yet.
    void setRegion(std::unique_ptr<PlaybackSource> source, std::int64_t startFrame, std::uint64_t generation);
    // Non-realtime: cross-fades to pass-through.
    void clearRegion();
    // Non-realtime (the idle loop, every tick): frees the regions the audio thread has finished with.
    // Returns the number freed.
    std::int64_t drainRetired();
    // Non-realtime: regions published and not yet freed (diagnostics).
    std::int64_t outstanding() const;
    // Any thread: hand-overs that displaced or parked a region.
    std::uint64_t overflows() const noexcept { return mailbox_.overflows(); }

    // Any thread; read by the audio thread once per block. At least 1.
    void setFadeFrames(std::int64_t frames) noexcept;
    std::int64_t fadeFrames() const noexcept { return fadeFrames_.load(std::memory_order_relaxed); }
    // Any thread; read by the audio thread once per block.
    void setCompare(bool on) noexcept { compare_.store(on, std::memory_order_relaxed); }
    bool compare() const noexcept { return compare_.load(std::memory_order_relaxed); }

    // Audio thread: writes out[c][0..frames) for each present output plane. in and out hold channels
    // planes; a null input plane reads as silence and non-finite input samples as 0. generation is the
    // current playback generation; flush (offline rendering) applies a new region and a generation
    // change at the first frame, without cross-fade or level slews. Realtime: lock-free, no allocation.
    void processBlock(const float* const* in, float* const* out, int channels, int frames,
                      std::int64_t hostPosition, bool playing, std::uint64_t generation, bool flush) noexcept;

private:
    void takeNewRegion(std::int64_t fade, std::uint64_t generation, bool flush) noexcept;
    void retire(RegionNode*& node) noexcept;

    mutable std::mutex mutex_;
    RegionNode clearMarker_;
    NodeMailbox<RegionNode> mailbox_;

    // Audio thread only (and the destructor).
    RegionNode* current_ = nullptr;
    RegionNode* fading_ = nullptr;
    std::int64_t crossfadeTotal_ = 0;
    std::int64_t crossfadeRemaining_ = 0;
    double transportLevel_ = 0.0; // 0..1; double so that a full swing lands in exactly fadeFrames frames
    double regionLevel_ = 0.0;

    std::atomic<std::int64_t> fadeFrames_{kDefaultFadeFrames};
    std::atomic<bool> compare_{false};

    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
    static_assert(std::atomic<bool>::is_always_lock_free);
};

} // namespace np
