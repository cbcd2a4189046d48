#pragma once

// Shared by the playback tests: a position-coded signal, so that every sample tells where on the host
// timeline it came from, and planar blocks that are refilled without allocating.

#include <cstdint>
#include <vector>

namespace cvtest {

// Exact in float: 20 bits of the position, minus the channel index.
inline float positionCode(int channel, std::int64_t position) {
    return static_cast<float>(position & 0xFFFFF) * 0x1p-20f - static_cast<float>(channel);
}

// Planes of up to maxFrames frames each.
struct Planes {
    Planes(int channels, int maxFrames)
        : data(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(maxFrames))) {
        for (auto& plane : data)
            pointers.push_back(plane.data());
    }
    // Fills the first `frames` frames with the codes of host frames position onwards.
    const float* const* coded(std::int64_t position, int frames) {
        for (std::size_t c = 0; c < data.size(); ++c)
            for (int i = 0; i < frames; ++i)
                data[c][static_cast<std::size_t>(i)] = positionCode(static_cast<int>(c), position + i);
        return pointers.data();
    }
    std::vector<std::vector<float>> data;
    std::vector<float*> pointers;
};

} // namespace cvtest
