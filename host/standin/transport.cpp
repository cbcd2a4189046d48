#include "host/standin/transport.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace cv::standin {

bool validPosition(double samplePos, std::int64_t& out) noexcept {
    // 2^63 is the first double beyond the signed 64-bit range.
    constexpr double kLimit = 9223372036854775808.0;
    if (samplePos == -1.0 || !std::isfinite(samplePos) || samplePos >= kLimit || samplePos < -kLimit)
        return false;
    out = static_cast<std::int64_t>(samplePos);
    return true;
}

TransportScript contiguous(std::int64_t start, int frames, int blocks, bool running) {
    TransportScript script;
    script.reserve(static_cast<std::size_t>(std::max(blocks, 0)));
    for (int b = 0; b < blocks; ++b)
        script.push_back(
            {frames, static_cast<double>(start + static_cast<std::int64_t>(b) * frames), running, false});
    return script;
}

TransportScript randomFrames(std::int64_t start, int minFrames, int maxFrames, int blocks,
                             std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> size(minFrames, maxFrames);
    TransportScript script;
    std::int64_t pos = start;
    for (int b = 0; b < blocks; ++b) {
        const int n = size(rng);
        script.push_back({n, static_cast<double>(pos), true, false});
        pos += n;
    }
    return script;
}

TransportScript loop(std::int64_t loopStart, std::int64_t loopEnd, int frames, int times) {
    TransportScript script;
    for (int t = 0; t < times; ++t)
        for (std::int64_t pos = loopStart; pos < loopEnd; pos += frames) {
            const int n = static_cast<int>(std::min<std::int64_t>(frames, loopEnd - pos));
            script.push_back({n, static_cast<double>(pos), true, false});
        }
    return script;
}

TransportScript withPosition(TransportScript script, double samplePos) {
    for (auto& block : script)
        block.samplePos = samplePos;
    return script;
}

TransportScript operator+(TransportScript a, const TransportScript& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace cv::standin
