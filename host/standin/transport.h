#pragma once

// Transport scripts: per host block its frame count, the sample position the host reports, and the
// running and offline flags. Builders for the patterns hosts produce: contiguous play, jumps, loops,
// random block sizes, and positions that are unknown (-1), NaN, infinite, negative or near the
// 64-bit edges.

#include <cstdint>
#include <vector>

namespace cv::standin {

struct TransportBlock {
    int frames = 512;
    double samplePos = 0.0; // as reported to the plug-in; -1 = none
    bool running = true;
    bool offline = false;
};

using TransportScript = std::vector<TransportBlock>;

// The position a block reports as a whole frame number, or false when it is not one a plug-in could
// use (-1, NaN, infinite, beyond the signed 64-bit range).
bool validPosition(double samplePos, std::int64_t& out) noexcept;

// `blocks` blocks of `frames` frames from `start`, each following the previous.
TransportScript contiguous(std::int64_t start, int frames, int blocks, bool running = true);
// Block sizes drawn from [minFrames, maxFrames] with a fixed seed, contiguous from `start`.
TransportScript randomFrames(std::int64_t start, int minFrames, int maxFrames, int blocks,
                             std::uint32_t seed);
// Plays [loopStart, loopEnd) `times` times in blocks of `frames`; the block that reaches the loop end is
// cut there, and the next one reports loopStart again.
TransportScript loop(std::int64_t loopStart, std::int64_t loopEnd, int frames, int times);
// Every block of `script` reporting `samplePos` instead (unknown, NaN, infinite, ...).
TransportScript withPosition(TransportScript script, double samplePos);
// Concatenation.
TransportScript operator+(TransportScript a, const TransportScript& b);

} // namespace cv::standin
