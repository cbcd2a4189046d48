#include "plugin/diagnostics.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace cv {

std::string formatDiagnostics(const DiagnosticsValues& values) {
    std::array<char, kDiagnosticsBufferBytes> buffer{};
    const int length = std::snprintf(
        buffer.data(), buffer.size(),
        "Corvalinth %s\nBuild: %s\nOS: %s\nFormat: %s\nSample rate: %.1f Hz\nBlock size: %d\nChannels "
        "in/out: %d/%d\nQueue overflows (playback/host/audition/automation): %llu/%llu/%llu/%llu\n",
        kProductVersion, kProductBuild, kDiagnosticsSystemName,
        values.pluginFormat != nullptr ? values.pluginFormat : "", values.sampleRateHz, values.blockSize,
        values.inputChannels, values.outputChannels, static_cast<unsigned long long>(values.playbackDrops),
        static_cast<unsigned long long>(values.hostDrops),
        static_cast<unsigned long long>(values.auditionDrops),
        static_cast<unsigned long long>(values.automationOverflows));
    if (length < 0) {
        return {};
    }
    return std::string(buffer.data(),
                       std::min<std::size_t>(static_cast<std::size_t>(length), buffer.size() - 1));
}

} // namespace cv
