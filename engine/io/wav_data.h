#pragma once

#include "engine/io/wav_writer.h"

#include <cstdint>
#include <memory>
#include <span>

namespace np {

// Audio held as the data chunk of the WAV file it will be written as: interleaved frames, every sample
// coded for the depth as the WAV export codes a float (encodeWavChannel), so that saveWav writes the bytes
// as they stand. The room for the whole length is taken once and not written: its pages are touched only
// as frames are appended. Move-only; one thread at a time.
class WavData {
public:
    WavData() = default;
    // Room for frames frames of channels channels coded for depth. Throws std::length_error with
    // AudioBuffer::kLimitMessage when the shape does not fit an audio buffer (AudioBuffer::fits), and
    // std::bad_alloc.
    WavData(int channels, WavBitDepth depth, std::int64_t frames);

    int channels() const noexcept { return channels_; }
    WavBitDepth depth() const noexcept { return depth_; }
    std::int64_t capacityFrames() const noexcept { return capacity_; }
    // Frames appended so far.
    std::int64_t frames() const noexcept { return frames_; }
    // Appended samples that were NaN or infinite; saveWav refuses data that holds one.
    std::int64_t nonFiniteSamples() const noexcept { return nonFinite_; }
    // The coded frames appended so far.
    std::span<const std::uint8_t> bytes() const noexcept;

    // Codes count frames of planes (planes[c][0, count) for every channel c) after the frames appended so
    // far; frames beyond the room are dropped. Returns the frames appended. No allocation.
    std::int64_t append(const float* const* planes, std::int64_t count) noexcept;

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    int channels_ = 0;
    WavBitDepth depth_ = WavBitDepth::Pcm16;
    std::int64_t capacity_ = 0;
    std::int64_t frames_ = 0;
    std::int64_t nonFinite_ = 0;
};

} // namespace np
