#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The plain-text report that "Copy diagnostics" puts on the clipboard: version, platform, audio
// configuration and the counts of work the lock-free queues had to drop.
namespace cv {

inline constexpr const char* kProductVersion = "1.0.0";
inline constexpr const char* kProductBuild = "Public release";
#if defined(__APPLE__)
inline constexpr const char* kDiagnosticsSystemName = "macOS";
#else
inline constexpr const char* kDiagnosticsSystemName = "Linux";
#endif

// The text is formatted into a zero-filled buffer of this many bytes and cut to one less.
inline constexpr std::size_t kDiagnosticsBufferBytes = 768;

// The values of one report, read by the plug-in as they are, without locking, on the main thread.
struct DiagnosticsValues {
    const char* pluginFormat = "AU";       // the host-facing plug-in format of this build
    double sampleRateHz = 0.0;             // the engine sample rate
    int blockSize = 0;                     // the block size the framework reports for the host
    int inputChannels = 0;                 // connected input channels
    int outputChannels = 0;                // connected output channels
    std::uint64_t playbackDrops = 0;       // the playback engine's hand-over mailbox
    std::uint64_t hostDrops = 0;           // the host-synced player's mailbox
    std::uint64_t auditionDrops = 0;       // the audition voice's mailbox
    std::uint64_t automationOverflows = 0; // the Volume-automation ring
};

// The report text: "Corvalinth <version>\nBuild: ...\nOS: ...\nFormat: ...\nSample rate: %.1f Hz\n
// Block size: %d\nChannels in/out: %d/%d\nQueue overflows (playback/host/audition/automation):
// a/b/c/d\n", at most kDiagnosticsBufferBytes - 1 bytes (longer text is cut); empty when formatting
// fails. A null pluginFormat is written as "". Pure; any thread.
std::string formatDiagnostics(const DiagnosticsValues& values);

} // namespace cv
