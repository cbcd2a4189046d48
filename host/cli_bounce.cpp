#include "host/cli_bounce.h"

#include <algorithm>
#include <array>
#include <vector>

namespace cv::cli {

np::WavData bounceToWavData(cv::standin::StandinHost& host, cv::standin::TransportScript script, int channels,
                            np::WavBitDepth depth, double scale) {
    std::int64_t frames = 0;
    for (const auto& block : script)
        frames += std::max(block.frames, 0);
    np::WavData data(channels, depth, frames);
    constexpr int kStepFrames = 512;
    std::vector<float> scaled(static_cast<std::size_t>(std::max(channels, 0)) * kStepFrames);
    host.bounceInto(std::move(script), [&](const double* const* planes, int outputs, int blockFrames) {
        std::array<const float*, 2> coded{};
        for (int first = 0; first < blockFrames; first += kStepFrames) {
            const int n = std::min(kStepFrames, blockFrames - first);
            for (int c = 0; c < channels; ++c) {
                // The host outputs every channel it was configured with; any other is silence.
                float* out = scaled.data() + static_cast<std::size_t>(c) * kStepFrames;
                for (int i = 0; i < n; ++i)
                    out[i] = c < outputs
                                 ? static_cast<float>(
                                       static_cast<double>(static_cast<float>(planes[c][first + i])) * scale)
                                 : 0.0f;
                coded[static_cast<std::size_t>(c)] = out;
            }
            data.append(coded.data(), n);
        }
    });
    return data;
}

} // namespace cv::cli
