#pragma once

#include "engine/audio/audio_buffer.h"

#include <cstdint>
#include <vector>

namespace np {

// A min/max overview of an audio buffer's mono mixdown for drawing the waveform at any zoom: per
// bucket of frames the smallest and the largest mono sample, at 256 and at 4096 frames per bucket.
// Built on the main thread whenever the source audio changes and then shared as
// std::shared_ptr<const PeakCache>; the const queries are safe from any thread.
class PeakCache {
public:
    static constexpr std::int64_t kFineFramesPerBucket = 256;
    static constexpr std::int64_t kCoarseFramesPerBucket = 4096;

    // One resolution; minima and maxima hold ceil(frames / framesPerBucket) entries each.
    struct Level {
        std::int64_t framesPerBucket = 0;
        std::vector<float> minima;
        std::vector<float> maxima;
    };

    // Levels, finest first: none for empty audio, else the 256 and the 4096 level.
    std::vector<Level> levels;
    // Frame count of the audio the cache was built from.
    std::int64_t frames = 0;

    // Rebuilds in place from audio. The extremes are those of the mono mixdown (AudioBuffer::
    // mixdownToMono), computed bucket by bucket from the planar channels so that no mono copy of the
    // whole audio is taken. Memory: (ceil(frames/256) + ceil(frames/4096)) x 8 bytes. Throws
    // std::bad_alloc; the cache is then left without levels.
    void build(const AudioBuffer& audio);

    // The coarsest level whose buckets are no wider than framesPerPixel, or the finest level when
    // none is. Requires at least one level.
    const Level& levelFor(double framesPerPixel) const noexcept;

    // Smallest minimum and largest maximum over the buckets that frames [startFrame, endFrame) touch,
    // the bucket indices clamped into the level; 0 and 0 for an empty range or a level without buckets.
    void rangeMinMax(const Level& level, std::int64_t startFrame, std::int64_t endFrame, float& min,
                     float& max) const noexcept;
};

} // namespace np
