#include "engine/audio/audio_buffer.h"

#include <algorithm>
#include <stdexcept>

namespace np {

bool AudioBuffer::fits(std::int64_t channels, std::int64_t frames) noexcept {
    // Taken as unsigned, a negative channel count is refused by the same comparison.
    if (static_cast<std::uint64_t>(channels) >= 3 || frames < 0)
        return false;
    return channels == 0 || frames <= kMaxSamples / channels;
}

void AudioBuffer::resize(int newChannels, std::int64_t newFrames) {
    if (!fits(newChannels, newFrames))
        throw std::length_error(kLimitMessage);
    std::vector<float> fresh(static_cast<std::size_t>(newChannels) * static_cast<std::size_t>(newFrames),
                             0.0f);
    samples.swap(fresh);
    channels = newChannels;
    frames = newFrames;
}

void AudioBuffer::clear() noexcept {
    std::fill(samples.begin(), samples.end(), 0.0f);
}

void AudioBuffer::mixdownToMono(std::span<float> out) const {
    if (channels == 0) {
        std::fill(out.begin(), out.end(), 0.0f);
        return;
    }
    if (out.size() < static_cast<std::size_t>(frames))
        throw std::length_error("Mono mixdown target is shorter than the audio buffer");
    const auto n = static_cast<std::size_t>(frames);
    std::copy_n(samples.begin(), n, out.begin());
    if (channels == 1)
        return;
    for (int c = 1; c < channels; ++c) {
        const float* src = samples.data() + static_cast<std::size_t>(c) * n;
        for (std::size_t i = 0; i < n; ++i)
            out[i] += src[i];
    }
    const float scale = 1.0f / static_cast<float>(channels);
    for (float& v : out)
        v *= scale;
}

AudioBuffer AudioBuffer::fromInterleaved(const float* data, int channels, std::int64_t frames) {
    AudioBuffer buffer;
    buffer.resize(channels, frames);
    if (frames >= 1 && channels >= 1) {
        const auto n = static_cast<std::size_t>(frames);
        for (int c = 0; c < channels; ++c) {
            float* dst = buffer.samples.data() + static_cast<std::size_t>(c) * n;
            for (std::size_t i = 0; i < n; ++i)
                dst[i] = data[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
        }
    }
    return buffer;
}

} // namespace np
