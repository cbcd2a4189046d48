#pragma once

// SampleRing: a single-producer, single-consumer ring of interleaved float frames between the thread that
// renders the plug-in's blocks and the audio device's callback. Push and pop never lock or allocate.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <vector>

namespace cv::app {

class SampleRing {
public:
    // Allocates room for capacityFrames frames of channels samples.
    SampleRing(std::size_t capacityFrames, int channels)
        : mChannels(static_cast<std::size_t>(channels)), mCapacity(capacityFrames + 1),
          mData(mCapacity * mChannels) {}

    int Channels() const noexcept { return static_cast<int>(mChannels); }

    // Producer: frames that fit now. Realtime: wait-free.
    std::size_t Space() const noexcept {
        const std::size_t w = mWrite.load(std::memory_order_relaxed);
        const std::size_t r = mRead.load(std::memory_order_acquire);
        return (r + mCapacity - w - 1) % mCapacity;
    }
    // Producer: appends up to frames frames; returns how many fitted. Realtime: wait-free.
    std::size_t Push(const float* interleaved, std::size_t frames) noexcept {
        const std::size_t n = std::min(frames, Space());
        std::size_t w = mWrite.load(std::memory_order_relaxed);
        for (std::size_t f = 0; f < n; ++f) {
            std::copy_n(interleaved + f * mChannels, mChannels,
                        mData.begin() + static_cast<std::ptrdiff_t>(w * mChannels));
            w = (w + 1) % mCapacity;
        }
        mWrite.store(w, std::memory_order_release);
        return n;
    }
    // Consumer: takes up to frames frames into out and fills the rest with silence; returns how many it
    // took. Realtime: wait-free.
    std::size_t Pop(float* out, std::size_t frames) noexcept {
        std::size_t r = mRead.load(std::memory_order_relaxed);
        const std::size_t w = mWrite.load(std::memory_order_acquire);
        const std::size_t available = (w + mCapacity - r) % mCapacity;
        const std::size_t n = std::min(frames, available);
        for (std::size_t f = 0; f < n; ++f) {
            std::copy_n(mData.begin() + static_cast<std::ptrdiff_t>(r * mChannels), mChannels,
                        out + f * mChannels);
            r = (r + 1) % mCapacity;
        }
        std::fill(out + n * mChannels, out + frames * mChannels, 0.f);
        mRead.store(r, std::memory_order_release);
        return n;
    }

private:
    const std::size_t mChannels;
    const std::size_t mCapacity; // one slot stays free to tell full from empty
    std::vector<float> mData;
    std::atomic<std::size_t> mWrite{0};
    std::atomic<std::size_t> mRead{0};
    static_assert(std::atomic<std::size_t>::is_always_lock_free);
};

} // namespace cv::app
