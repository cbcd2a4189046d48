#include "engine/io/wav_data.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace np {

WavData::WavData(int channels, WavBitDepth depth, std::int64_t frames) {
    if (!AudioBuffer::fits(channels, frames)) {
        throw std::length_error(AudioBuffer::kLimitMessage);
    }
    // Not value-initialised, so the system supplies the pages only when append writes them.
    bytes_ = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(frames) *
                                                            wavFrameBytes(channels, depth));
    channels_ = channels;
    depth_ = depth;
    capacity_ = frames;
}

std::span<const std::uint8_t> WavData::bytes() const noexcept {
    return {bytes_.get(), static_cast<std::size_t>(frames_) * wavFrameBytes(channels_, depth_)};
}

std::int64_t WavData::append(const float* const* planes, std::int64_t count) noexcept {
    const std::int64_t n = std::clamp<std::int64_t>(count, 0, capacity_ - frames_);
    const std::size_t sampleBytes = static_cast<std::size_t>(wavBytesPerSample(depth_));
    const std::size_t stride = wavFrameBytes(channels_, depth_);
    std::uint8_t* first = bytes_.get() + static_cast<std::size_t>(frames_) * stride;
    for (int c = 0; c < channels_; ++c) {
        nonFinite_ += std::count_if(planes[c], planes[c] + n, [](float x) { return !std::isfinite(x); });
        encodeWavChannel(planes[c], n, depth_, first + static_cast<std::size_t>(c) * sampleBytes, stride);
    }
    frames_ += n;
    return n;
}

} // namespace np
