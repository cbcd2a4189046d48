#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace np {

// Planar 32-bit float audio with at most two channels and a hard ceiling on its size, so that every
// subsystem can budget memory before it allocates. Channel c occupies samples[c*frames, (c+1)*frames).
// The sample rate always travels beside the buffer. Once a buffer is a session's source audio it is
// shared as std::shared_ptr<const AudioBuffer> and never changed again.
struct AudioBuffer {
    // 2^27 samples: 512 MiB of float.
    static constexpr std::int64_t kMaxSamples = 134217728;
    static constexpr const char* kLimitMessage = "Audio buffer exceeds Corvalinth resource limits";

    std::vector<float> samples;
    std::int32_t channels = 0;
    std::int64_t frames = 0;

    // Whether (channels, frames) lies within the limits: 0..2 channels, frames >= 0 and at most
    // kMaxSamples samples in all.
    static bool fits(std::int64_t channels, std::int64_t frames) noexcept;

    // Replaces the contents with channels*frames zeroed samples. Throws std::length_error with
    // kLimitMessage when the shape does not fit; the new storage is taken before the old is released,
    // so on any failure (including std::bad_alloc) the buffer keeps its previous contents.
    void resize(int channels, std::int64_t frames);

    // Sets every sample to 0; channels and frames stay.
    void clear() noexcept;

    // Writes one mono value per frame: a copy of a mono buffer, the channel mean (summed in float,
    // scaled by 1.0f/channels) of a stereo one, zeros for an empty one. Throws std::length_error when
    // out holds fewer than frames values (it would otherwise be written past its end).
    void mixdownToMono(std::span<float> out) const;

    std::span<float> channel(int c) noexcept {
        return {samples.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(frames),
                static_cast<std::size_t>(frames)};
    }
    std::span<const float> channel(int c) const noexcept {
        return {samples.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(frames),
                static_cast<std::size_t>(frames)};
    }

    // De-interleaves data (frames groups of channels values) into a new buffer; refuses as resize does.
    static AudioBuffer fromInterleaved(const float* data, int channels, std::int64_t frames);
};

} // namespace np
