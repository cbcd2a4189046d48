#include "framework/host_entry.h"

#include <climits>

namespace iplug {

void HostEntry::Attach(Plugin& plugin, IHostAdapter* host) noexcept {
    plugin.mHost.store(host, std::memory_order_release);
}

void HostEntry::SetAudioConfig(Plugin& plugin, double sampleRate, int blockSize, int nInputsConnected,
                               int nOutputsConnected) noexcept {
    plugin.mSampleRate.store(sampleRate, std::memory_order_relaxed);
    plugin.mBlockSize.store(blockSize, std::memory_order_relaxed);
    plugin.mInputsConnected.store(nInputsConnected > 0 ? nInputsConnected : 0, std::memory_order_relaxed);
    plugin.mOutputsConnected.store(nOutputsConnected > 0 ? nOutputsConnected : 0, std::memory_order_relaxed);
}

void HostEntry::SetProcessInfo(Plugin& plugin, const ITimeInfo& timeInfo, bool renderingOffline) noexcept {
    plugin.mTimeInfo = timeInfo;
    plugin.mRenderingOffline.store(renderingOffline, std::memory_order_relaxed);
}

bool HostEntry::SetParameterFromHost(Plugin& plugin, int paramIdx, double value, int sampleOffset) {
    IParam* param = plugin.GetParam(paramIdx);
    if (param == nullptr)
        return false;
    param->Set(value);
    plugin.OnParamChange(paramIdx, kHost, sampleOffset);
    return true;
}

std::optional<HostStateRecord> HostEntry::SaveState(const Plugin& plugin) {
    IByteChunk chunk;
    if (!plugin.SerializeState(chunk))
        return std::nullopt;
    const Config& config = plugin.GetConfig();
    HostStateRecord record{kEffectComponentType, config.uniqueID, config.mfrID, config.vendorVersion, {}};
    record.data.assign(chunk.GetData(), chunk.GetData() + chunk.Size());
    return record;
}

void HostEntry::BeginRestoreState(Plugin& plugin) {
    plugin.OnRestoreStateBegin();
}

bool HostEntry::FinishRestoreState(Plugin& plugin, const HostStateRecord& record) {
    const Config& config = plugin.GetConfig();
    if (record.type != kEffectComponentType || record.subtype != config.uniqueID ||
        record.maker != config.mfrID)
        return false;
    // A chunk's size is an int: larger data cannot be handed over and is refused like a foreign record.
    if (record.data.size() >= static_cast<std::size_t>(INT_MAX))
        return false;
    IByteChunk chunk;
    chunk.PutBytes(record.data.data(), static_cast<int>(record.data.size()));
    return plugin.UnserializeState(chunk, 0) >= 0;
}

} // namespace iplug
