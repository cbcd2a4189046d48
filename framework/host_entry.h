#pragma once

// The framework's host-facing entry: what a host adapter (the Audio Unit wrapper on macOS, the
// stand-in host here) calls on a plug-in besides its public entry points. It writes the host
// information the plug-in reads, delivers host automation, and runs the state save and restore
// entries with the host-state record the host keeps in its project.
//
// Restore order: OnRestoreStateBegin, then the record's identity is checked (type, subtype and
// maker must be the plug-in's; the version is the chunk's business), then UnserializeState(data, 0).
// The hook therefore also runs for a record that is then refused.

#include "framework/plugin.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace iplug {

// The component type every effect of this framework reports ("aufx").
inline constexpr std::int32_t kEffectComponentType = MakeFourCharCode("aufx");

// The state as a host keeps it: the plug-in's identity and its chunk bytes.
struct HostStateRecord {
    std::int32_t type = 0;
    std::int32_t subtype = 0;
    std::int32_t maker = 0;
    std::int32_t version = 0;
    std::vector<std::uint8_t> data;
    bool operator==(const HostStateRecord&) const = default;
};

class HostEntry {
public:
    // The adapter that receives the plug-in's notifications (null detaches). It must outlive the
    // attachment.
    static void Attach(Plugin& plugin, IHostAdapter* host) noexcept;

    // Before OnReset: the audio configuration the host will process with. Negative counts are stored as 0.
    static void SetAudioConfig(Plugin& plugin, double sampleRate, int blockSize, int nInputsConnected,
                               int nOutputsConnected) noexcept;
    // Realtime: wait-free. Before each ProcessBlock, on the audio thread.
    static void SetProcessInfo(Plugin& plugin, const ITimeInfo& timeInfo, bool renderingOffline) noexcept;
    // Host automation: sets the parameter (constrained), then OnParamChange(idx, kHost, sampleOffset).
    // False (nothing called) for an index out of range. Realtime when the plug-in's OnParamChange is.
    static bool SetParameterFromHost(Plugin& plugin, int paramIdx, double value, int sampleOffset);

    // The save entry: the plug-in's identity and the chunk SerializeState wrote; empty when it refused.
    static std::optional<HostStateRecord> SaveState(const Plugin& plugin);
    // The restore entry in two steps, so a host can run other work between them.
    static void BeginRestoreState(Plugin& plugin);
    // Checks the record and decodes it; true when the plug-in accepted the chunk (UnserializeState
    // returned a position >= 0). Data of 2 GiB or more is refused.
    static bool FinishRestoreState(Plugin& plugin, const HostStateRecord& record);
    // Both steps.
    static bool RestoreState(Plugin& plugin, const HostStateRecord& record) {
        BeginRestoreState(plugin);
        return FinishRestoreState(plugin, record);
    }
};

} // namespace iplug
