#include "plugin/capture_memory.h"

#include <algorithm>

namespace cv {

std::uint64_t audioBytes(const np::AudioBuffer* audio) noexcept {
    if (audio == nullptr)
        return 0;
    if (audio->channels < 0 || !np::AudioBuffer::fits(audio->channels, audio->frames))
        return kAllOnesBytes;
    return static_cast<std::uint64_t>(audio->channels) * static_cast<std::uint64_t>(audio->frames) * 4u;
}

std::uint64_t peakCacheEstimateBytes(std::int64_t frames) noexcept {
    if (frames <= 0)
        return 0;
    const auto n = static_cast<std::uint64_t>(frames);
    const std::uint64_t buckets = (n + 255) / 256 + (n + 4095) / 4096;
    return buckets > (kAllOnesBytes - 288) / 8 ? kAllOnesBytes : buckets * 8 + 288;
}

ResidentMemory residentMemoryTotals(const ResidentMemoryInputs& in) noexcept {
    ResidentMemory total;
    total.residentBytes = in.sessionResidentBytes;
    total.audioBytes = audioBytes(in.sessionSource);
    if (in.pluginSource != nullptr && in.pluginSource != in.sessionSource) {
        const std::uint64_t extra = audioBytes(in.pluginSource);
        total.residentBytes = saturatingAdd(total.residentBytes, extra);
        total.audioBytes = saturatingAdd(total.audioBytes, extra);
    }
    const std::uint64_t reserve = renderReserveBytes(in.largestRenderBytes);
    total.residentBytes = saturatingAdd(saturatingAdd(total.residentBytes, reserve), in.waveformCacheBytes);
    total.audioBytes = saturatingAdd(total.audioBytes, reserve);
    return total;
}

std::optional<std::uint64_t> captureBytesInUse(const ResidentMemory& totals) noexcept {
    if (totals.residentBytes >= kResidentLimitBytes || totals.audioBytes >= kAudioWorkingSetBytes)
        return std::nullopt;
    const std::uint64_t freeBytes =
        std::min(kResidentLimitBytes - totals.residentBytes, kAudioWorkingSetBytes - totals.audioBytes);
    return kAudioWorkingSetBytes - freeBytes;
}

} // namespace cv
