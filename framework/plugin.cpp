#include "framework/plugin.h"

#include <cmath>
#include <stdexcept>

namespace iplug {

Plugin::Plugin(const InstanceInfo& info, const Config& config)
    : IEditorDelegate(config.nParams), mConfig(config), mInstanceInfo(info),
      mChannelIOs(ParseChannelIOStr(config.channelIOStr)) {
    if (config.nPresets < 0)
        throw std::invalid_argument("A plug-in cannot have a negative number of presets.");
    mPresets.resize(static_cast<std::size_t>(config.nPresets));
    mLatency.store(config.latency > 0 ? config.latency : 0, std::memory_order_relaxed);
    SetEditorSize(config.plugWidth, config.plugHeight);
    SetSizeConstraints(config.plugMinWidth, config.plugMaxWidth, config.plugMinHeight, config.plugMaxHeight);
}

Plugin::~Plugin() = default;

bool Plugin::LegalIO(int nIn, int nOut) const noexcept {
    for (const auto& io : mChannelIOs)
        if (io.nIn == nIn && io.nOut == nOut)
            return true;
    return false;
}

void Plugin::SetLatency(int latencyFrames) {
    const int latency = latencyFrames > 0 ? latencyFrames : 0;
    if (mLatency.exchange(latency, std::memory_order_relaxed) == latency)
        return;
    if (IHostAdapter* host = mHost.load(std::memory_order_acquire))
        host->InformHostOfLatencyChange(latency);
}

void Plugin::InformHostOfStateChange() {
    if (IHostAdapter* host = mHost.load(std::memory_order_acquire))
        host->InformHostOfStateChange();
}

void Plugin::BeginInformHostOfParamChange(int paramIdx) {
    if (IHostAdapter* host = mHost.load(std::memory_order_acquire); host && GetParam(paramIdx))
        host->BeginInformHostOfParamChange(paramIdx);
}

void Plugin::InformHostOfParamChange(int paramIdx, double normalizedValue) {
    if (IHostAdapter* host = mHost.load(std::memory_order_acquire); host && GetParam(paramIdx))
        host->InformHostOfParamChange(paramIdx, normalizedValue);
}

void Plugin::EndInformHostOfParamChange(int paramIdx) {
    if (IHostAdapter* host = mHost.load(std::memory_order_acquire); host && GetParam(paramIdx))
        host->EndInformHostOfParamChange(paramIdx);
}

void Plugin::SetParameterValue(int paramIdx, double normalizedValue) {
    IParam* param = GetParam(paramIdx);
    if (param == nullptr)
        return;
    param->SetNormalized(normalizedValue);
    InformHostOfParamChange(paramIdx, param->GetNormalized());
    OnParamChange(paramIdx, kUI, -1);
}

void Plugin::SendParameterValueFromUI(int paramIdx, double normalizedValue) {
    SetParameterValue(paramIdx, normalizedValue);
}

bool Plugin::ResizeHostWindow(int width, int height) {
    IHostAdapter* host = mHost.load(std::memory_order_acquire);
    return host != nullptr && host->ResizeEditorWindow(width, height);
}

void Plugin::OnParamChange(int paramIdx, EParamSource source, int sampleOffset) {
    (void)source, (void)sampleOffset;
    OnParamChange(paramIdx);
}

const IPreset* Plugin::GetPreset(int idx) const noexcept {
    return idx >= 0 && idx < NPresets() ? &mPresets[static_cast<std::size_t>(idx)] : nullptr;
}

bool Plugin::MakeDefaultPreset(const char* name, int nPresets) {
    int made = 0;
    for (auto& preset : mPresets) {
        if (nPresets >= 1 && made == nPresets)
            break;
        if (preset.mInitialized)
            continue;
        IByteChunk chunk;
        if (!SerializeState(chunk))
            return false;
        preset.mChunk = std::move(chunk);
        preset.mName = name ? name : "Default";
        preset.mInitialized = true;
        ++made;
    }
    return true;
}

bool Plugin::RestorePreset(int idx) {
    const IPreset* preset = GetPreset(idx);
    if (preset == nullptr || !preset->mInitialized)
        return false;
    if (UnserializeState(preset->mChunk, 0) < 0)
        return false;
    mCurrentPresetIdx.store(idx, std::memory_order_relaxed);
    return true;
}

bool Plugin::SerializeState(IByteChunk& chunk) const {
    return SerializeParams(chunk);
}

int Plugin::UnserializeState(const IByteChunk& chunk, int startPos) {
    return UnserializeParams(chunk, startPos);
}

bool Plugin::SerializeParams(IByteChunk& chunk) const {
    for (int i = 0; i < NParams(); ++i) {
        const double value = GetParam(i)->Value();
        chunk.Put(&value);
    }
    return true;
}

int Plugin::UnserializeParams(const IByteChunk& chunk, int startPos) {
    std::vector<double> values(static_cast<std::size_t>(NParams()));
    int pos = startPos;
    for (double& value : values) {
        pos = chunk.Get(&value, pos);
        if (pos < 0 || !std::isfinite(value))
            return -1;
    }
    for (int i = 0; i < NParams(); ++i)
        GetParam(i)->Set(values[static_cast<std::size_t>(i)]);
    return pos;
}

} // namespace iplug
