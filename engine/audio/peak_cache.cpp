#include "engine/audio/peak_cache.h"

#include <algorithm>

namespace np {
namespace {

// The mono value of frame i exactly as mixdownToMono forms it: the channels summed in float in
// channel order, then scaled by the single-precision reciprocal of the channel count.
inline float monoAt(const float* const* channels, int count, float scale, std::size_t i) noexcept {
    float v = channels[0][i];
    if (count == 1)
        return v;
    for (int c = 1; c < count; ++c)
        v += channels[c][i];
    return v * scale;
}

std::size_t bucketCount(std::int64_t frames, std::int64_t framesPerBucket) noexcept {
    return static_cast<std::size_t>((frames + framesPerBucket - 1) / framesPerBucket);
}

} // namespace

void PeakCache::build(const AudioBuffer& audio) {
    levels.clear();
    frames = audio.frames;
    if (audio.frames <= 0 || audio.channels <= 0)
        return;

    Level fine;
    fine.framesPerBucket = kFineFramesPerBucket;
    const std::size_t fineCount = bucketCount(audio.frames, kFineFramesPerBucket);
    fine.minima.resize(fineCount);
    fine.maxima.resize(fineCount);
    Level coarse;
    coarse.framesPerBucket = kCoarseFramesPerBucket;
    const std::size_t coarseCount = bucketCount(audio.frames, kCoarseFramesPerBucket);
    coarse.minima.resize(coarseCount);
    coarse.maxima.resize(coarseCount);

    const int channelCount = audio.channels;
    const float* channels[2] = {audio.channel(0).data(),
                                channelCount > 1 ? audio.channel(1).data() : nullptr};
    const float scale = 1.0f / static_cast<float>(channelCount);
    const auto total = static_cast<std::size_t>(audio.frames);
    for (std::size_t b = 0; b < fineCount; ++b) {
        const std::size_t begin = b * kFineFramesPerBucket;
        const std::size_t end = std::min(total, begin + kFineFramesPerBucket);
        float lo = monoAt(channels, channelCount, scale, begin);
        float hi = lo;
        for (std::size_t i = begin + 1; i < end; ++i) {
            const float v = monoAt(channels, channelCount, scale, i);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        fine.minima[b] = lo;
        fine.maxima[b] = hi;
    }
    // A coarse bucket covers exactly 16 fine buckets (the last one fewer), so its extremes are theirs.
    constexpr std::size_t kRatio = kCoarseFramesPerBucket / kFineFramesPerBucket;
    for (std::size_t b = 0; b < coarseCount; ++b) {
        const std::size_t begin = b * kRatio;
        const std::size_t end = std::min(fineCount, begin + kRatio);
        coarse.minima[b] = *std::min_element(fine.minima.begin() + begin, fine.minima.begin() + end);
        coarse.maxima[b] = *std::max_element(fine.maxima.begin() + begin, fine.maxima.begin() + end);
    }
    levels.reserve(2);
    levels.push_back(std::move(fine));
    levels.push_back(std::move(coarse));
}

const PeakCache::Level& PeakCache::levelFor(double framesPerPixel) const noexcept {
    const Level* chosen = &levels.front();
    for (const Level& level : levels) {
        if (static_cast<double>(level.framesPerBucket) <= framesPerPixel)
            chosen = &level;
    }
    return *chosen;
}

void PeakCache::rangeMinMax(const Level& level, std::int64_t startFrame, std::int64_t endFrame, float& min,
                            float& max) const noexcept {
    min = 0.0f;
    max = 0.0f;
    if (endFrame <= startFrame || level.minima.empty() || level.framesPerBucket <= 0)
        return;
    const auto last = static_cast<std::int64_t>(level.minima.size()) - 1;
    const std::int64_t b0 = std::clamp<std::int64_t>(startFrame / level.framesPerBucket, 0, last);
    const std::int64_t b1 = std::clamp<std::int64_t>((endFrame - 1) / level.framesPerBucket, 0, last);
    min = level.minima[static_cast<std::size_t>(b0)];
    max = level.maxima[static_cast<std::size_t>(b0)];
    for (std::int64_t b = b0 + 1; b <= b1; ++b) {
        min = std::min(min, level.minima[static_cast<std::size_t>(b)]);
        max = std::max(max, level.maxima[static_cast<std::size_t>(b)]);
    }
}

} // namespace np
