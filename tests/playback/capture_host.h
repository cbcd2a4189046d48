#pragma once

// Shared by the capture tests: a position-coded input, so that every recorded sample tells where on
// the host timeline it came from.

#include <cstdint>
#include <vector>

namespace cvtest {

// Exact in float: 20 bits of the position, minus the channel index.
inline float positionCode(int channel, std::int64_t position) {
    return static_cast<float>(position & 0xFFFFF) * 0x1p-20f - static_cast<float>(channel);
}

// Planar input planes of up to maxFrames frames, refilled for each block without allocating.
struct CodedInput {
    CodedInput(int channels, int maxFrames)
        : planes(static_cast<std::size_t>(channels),
                 std::vector<float>(static_cast<std::size_t>(maxFrames))) {
        for (auto& plane : planes)
            pointers.push_back(plane.data());
    }
    const float* const* fill(std::int64_t position, int frames) {
        for (std::size_t c = 0; c < planes.size(); ++c)
            for (int i = 0; i < frames; ++i)
                planes[c][static_cast<std::size_t>(i)] = positionCode(static_cast<int>(c), position + i);
        return pointers.data();
    }
    std::vector<std::vector<float>> planes;
    std::vector<const float*> pointers;
};

} // namespace cvtest
