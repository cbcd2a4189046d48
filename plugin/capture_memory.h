#pragma once

// The memory totals every replacement of the session is checked against, and the capture budget they
// leave. Every sum saturates, so a count that cannot be known (all ones) refuses instead of wrapping.
// Pure; any thread.

#include "engine/audio/audio_buffer.h"

#include <cstdint>
#include <optional>

namespace cv {

inline constexpr std::uint64_t kResidentLimitBytes = 671088640;   // 640 MiB of resident state
inline constexpr std::uint64_t kAudioWorkingSetBytes = 536870912; // 512 MiB of audio working set
inline constexpr std::uint64_t kAllOnesBytes = ~std::uint64_t{0};

constexpr std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) noexcept {
    return a > kAllOnesBytes - b ? kAllOnesBytes : a + b;
}

// channels x frames x 4 of a buffer; 0 for none; all ones for a shape beyond the buffer limits.
std::uint64_t audioBytes(const np::AudioBuffer* audio) noexcept;

// Three times the largest render, kept free for the next one: the size saturates at a third of the
// range first, so the product is all ones at most.
constexpr std::uint64_t renderReserveBytes(std::uint64_t largestRenderBytes) noexcept {
    constexpr std::uint64_t kThird = 0x5555555555555555;
    return 3 * (largestRenderBytes < kThird ? largestRenderBytes : kThird);
}

// The waveform cache's size estimate: (ceil(frames / 256) + ceil(frames / 4096)) x 8 + 288 bytes; 0
// without frames; all ones on overflow.
std::uint64_t peakCacheEstimateBytes(std::int64_t frames) noexcept;

struct ResidentMemoryInputs {
    std::uint64_t sessionResidentBytes = 0; // the edit session's own estimate
    const np::AudioBuffer* sessionSource = nullptr;
    const np::AudioBuffer* pluginSource = nullptr; // counted as well when it is another buffer
    std::uint64_t largestRenderBytes = 0;
    std::uint64_t waveformCacheBytes = 0; // resident only
};

struct ResidentMemory {
    std::uint64_t residentBytes = 0;
    std::uint64_t audioBytes = 0;
    bool operator==(const ResidentMemory&) const = default;
};

ResidentMemory residentMemoryTotals(const ResidentMemoryInputs& in) noexcept;

// What the capture recorder is armed with as bytes in use: 512 MiB less the smaller of what the totals
// leave free of either limit, so its budget (half of the rest, at most 192 MiB) is half the smaller
// free amount. Empty when either total has reached its limit.
std::optional<std::uint64_t> captureBytesInUse(const ResidentMemory& totals) noexcept;

} // namespace cv
