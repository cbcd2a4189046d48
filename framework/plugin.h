#pragma once

// The plug-in base: configuration, host information, notifications to the host, presets, state and
// the virtual entry points a host calls. A plug-in derives from it and overrides the entry points.
//
// Host information (sample rate, block size, connected channels, offline flag, time info) is written
// by the host adapter through iplug::HostEntry before the call it belongs to: the audio configuration
// before OnReset, the time info and offline flag before each ProcessBlock. The getters are atomic reads
// except GetTimeInfo, which belongs to the audio thread during ProcessBlock.
//
// Which thread calls what: ProcessBlock on the host's audio thread; OnReset and OnActivate on the
// thread the host configures audio from; OnIdle (every 20 ms) and the editor calls on the main thread;
// SerializeState, OnRestoreStateBegin, UnserializeState, RestorePreset and OnParamChange on any host
// thread. A plug-in callback must not let an exception escape into the host.
//
// Presets: MakeDefaultPreset serialises the plug-in's state (SerializeState) into each unset preset's
// chunk; called from the derived constructor, it reaches the derived SerializeState. RestorePreset
// calls UnserializeState(chunk, 0) without OnRestoreStateBegin.

#include "framework/byte_chunk.h"
#include "framework/config.h"
#include "framework/editor_delegate.h"
#include "framework/host_adapter.h"
#include "framework/preset.h"
#include "framework/time_info.h"

#include <atomic>
#include <vector>

namespace iplug {

class Plugin : public IEditorDelegate {
public:
    // Throws std::invalid_argument for a bad configuration (negative counts, a bad channel string).
    Plugin(const InstanceInfo& info, const Config& config);
    ~Plugin() override;

    const Config& GetConfig() const noexcept { return mConfig; }
    const InstanceInfo& GetInstanceInfo() const noexcept { return mInstanceInfo; }
    const std::vector<ChannelIO>& GetChannelIOs() const noexcept { return mChannelIOs; }
    // True when (nIn, nOut) is one of the configuration's channel pairs.
    bool LegalIO(int nIn, int nOut) const noexcept;

    // Host information; realtime: wait-free. 0 before the host configured audio.
    double GetSampleRate() const noexcept { return mSampleRate.load(std::memory_order_relaxed); }
    int GetBlockSize() const noexcept { return mBlockSize.load(std::memory_order_relaxed); }
    int NInChansConnected() const noexcept { return mInputsConnected.load(std::memory_order_relaxed); }
    int NOutChansConnected() const noexcept { return mOutputsConnected.load(std::memory_order_relaxed); }
    bool GetRenderingOffline() const noexcept { return mRenderingOffline.load(std::memory_order_relaxed); }
    // Audio thread, during ProcessBlock.
    const ITimeInfo& GetTimeInfo() const noexcept { return mTimeInfo; }
    double GetSamplePos() const noexcept { return mTimeInfo.mSamplePos; }
    bool GetTransportIsRunning() const noexcept { return mTimeInfo.mTransportIsRunning; }

    int GetLatency() const noexcept { return mLatency.load(std::memory_order_relaxed); }
    // Sets the latency in frames and tells the host when it changed (negative counts as 0).
    void SetLatency(int latencyFrames);

    // Notifications to the host; nothing while no host is attached.
    void InformHostOfStateChange();
    void BeginInformHostOfParamChange(int paramIdx);
    void InformHostOfParamChange(int paramIdx, double normalizedValue);
    void EndInformHostOfParamChange(int paramIdx);
    // Sets the parameter from a normalized value, tells the host the new value, then calls
    // OnParamChange(paramIdx, kUI). Callers bracket it with Begin/EndInformHostOfParamChange.
    // Nothing for an index out of range.
    void SetParameterValue(int paramIdx, double normalizedValue);

    // Presets.
    int NPresets() const noexcept { return static_cast<int>(mPresets.size()); }
    const IPreset* GetPreset(int idx) const noexcept;
    int GetCurrentPresetIdx() const noexcept { return mCurrentPresetIdx.load(std::memory_order_relaxed); }
    // Fills the first nPresets unset presets (all unset ones when nPresets < 1) with the current state
    // under `name` ("Default" for null). False when SerializeState refused (those presets stay unset).
    bool MakeDefaultPreset(const char* name = nullptr, int nPresets = 1);
    // Restores an initialised preset: UnserializeState(chunk, 0) without OnRestoreStateBegin. True when
    // the plug-in accepted the chunk; then it becomes the current preset.
    bool RestorePreset(int idx);

    // Entry points, overridden by the plug-in.
    virtual void ProcessBlock(double** inputs, double** outputs, int nFrames) = 0;
    virtual void OnReset() {}
    virtual void OnActivate(bool active) { (void)active; }
    // A parameter changed; sampleOffset is the frame within the next block for host automation, -1
    // otherwise. The default forwards to the one-argument form.
    virtual void OnParamChange(int paramIdx, EParamSource source, int sampleOffset = -1);
    virtual void OnParamChange(int paramIdx) { (void)paramIdx; }
    virtual void OnIdle() {}
    // Appends the state; false when it cannot be written. The default writes every parameter value.
    virtual bool SerializeState(IByteChunk& chunk) const;
    // Reads the state from startPos; returns the position after it, or -1 when refused. The default
    // reads the parameter values SerializeState wrote.
    virtual int UnserializeState(const IByteChunk& chunk, int startPos);
    // The host is about to restore state: called before the host checks the incoming state.
    virtual void OnRestoreStateBegin() {}

    // The parameter values in index order, and back; Unserialize returns -1 (nothing set) when the
    // chunk is short or a value is not finite.
    bool SerializeParams(IByteChunk& chunk) const;
    int UnserializeParams(const IByteChunk& chunk, int startPos);

    // IEditorDelegate: the editor's parameter changes become SetParameterValue and the host informs.
    void SendParameterValueFromUI(int paramIdx, double normalizedValue) override;
    void BeginInformHostOfParamChangeFromUI(int paramIdx) override { BeginInformHostOfParamChange(paramIdx); }
    void EndInformHostOfParamChangeFromUI(int paramIdx) override { EndInformHostOfParamChange(paramIdx); }

protected:
    bool ResizeHostWindow(int width, int height) override;

private:
    friend class HostEntry;

    const Config mConfig;
    const InstanceInfo mInstanceInfo;
    const std::vector<ChannelIO> mChannelIOs;
    std::vector<IPreset> mPresets;
    std::atomic<int> mCurrentPresetIdx{0};

    std::atomic<IHostAdapter*> mHost{nullptr};
    std::atomic<double> mSampleRate{0.0};
    std::atomic<int> mBlockSize{0};
    std::atomic<int> mInputsConnected{0};
    std::atomic<int> mOutputsConnected{0};
    std::atomic<bool> mRenderingOffline{false};
    std::atomic<int> mLatency{0};
    ITimeInfo mTimeInfo;
};

} // namespace iplug
