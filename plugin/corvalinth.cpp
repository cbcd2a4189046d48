// Construction, teardown and the fault guards of the host callbacks.

#include "plugin/Corvalinth.h"

#include "plugin/update_fetch_curl.h"

#include <algorithm>
#include <chrono>

Corvalinth::Corvalinth(const iplug::InstanceInfo& info) : Corvalinth(info, Services{}) {}

Corvalinth::Corvalinth(const iplug::InstanceInfo& info, Services services)
    : iplug::Plugin(info, cv::makeCorvalinthConfig()), renderWorker_(std::move(services.render)),
      analysis_(std::move(services.analysisJob)), auditionWorker_(std::move(services.auditionSynth)),
      updates_(services.update ? *services.update : cv::UpdateFetch(cv::fetchHttpsText)) {
    cv::declareCorvalinthParameters(*this);
    MakeDefaultPreset("Default", 1);

    prefs_ = services.prefs != nullptr ? services.prefs : &cv::Prefs::shared();
    buildPeaks_ = std::move(services.buildPeaks);
    exportDepthIdx_ =
        std::clamp(prefs_->getInt(cv::kPrefExportDepthIdx, cv::kPrefExportDepthIdxDefault), 0, 2);
    GetParam(cv::kParamA4)->Set(std::clamp(prefs_->getInt(cv::kPrefA4Idx, cv::kPrefA4IdxDefault), 0, 7));
    updateChecksEnabled_ =
        prefs_->getInt(cv::kPrefUpdateChecksEnabled, cv::kPrefUpdateChecksEnabledDefault) != 0;
    ApplyKeyScaleParams();
    gain_.reset(cv::gainFromVolume(GetParam(cv::kParamVolume)->Value()));

    SetLatency(0);
    InstallEditorHooks();
    PublishDawStateSnapshot();
}

Corvalinth::~Corvalinth() {
    // The editor's controls reach this object: they close while it is whole.
    CloseWindow();
    fileJob_.cancel.store(true);
    secondFileJob_.cancel.store(true);
    fileJob_.cancelAndJoin();
    secondFileJob_.cancelAndJoin();
    // The members go in reverse order of construction: the workers cancel and join their threads, the
    // player frees every node it still holds.
}

void Corvalinth::ApplyKeyScaleParams() {
    session_.setKeyScale(np::KeyScale{GetParam(cv::kParamKey)->Int(),
                                      static_cast<std::uint32_t>(GetParam(cv::kParamScale)->Int())});
    session_.setA4Hz(cv::a4HzFromIndex(GetParam(cv::kParamA4)->Int()));
}

np::SessionMeta Corvalinth::CurrentSessionMeta() const {
    np::SessionMeta meta;
    meta.keyRoot = GetParam(cv::kParamKey)->Int();
    meta.scaleKind = GetParam(cv::kParamScale)->Int();
    meta.a4Hz = cv::a4HzFromIndex(GetParam(cv::kParamA4)->Int());
    meta.tempoBpm = GetParam(cv::kParamTempo)->Value();
    meta.algorithm = GetParam(cv::kParamAlgorithm)->Int();
    return meta;
}

bool Corvalinth::HasUnsavedEdits() const {
    return session_.document().audio != nullptr && session_.contentRevision() != cleanRevision_;
}

bool Corvalinth::MetaMatchesSaved() const {
    if (!savedMeta_)
        return true;
    const np::SessionMeta now = CurrentSessionMeta();
    return now.keyRoot == savedMeta_->keyRoot && now.scaleKind == savedMeta_->scaleKind &&
           now.a4Hz == savedMeta_->a4Hz && now.tempoBpm == savedMeta_->tempoBpm &&
           now.algorithm == savedMeta_->algorithm;
}

void Corvalinth::SendParameterToHost(int paramIdx, double value) {
    iplug::IParam* param = GetParam(paramIdx);
    param->Set(value);
    const double normalized = std::clamp(param->GetNormalized(), 0.0, 1.0);
    InformHostOfParamChange(paramIdx, normalized);
    SendParameterValueFromDelegate(paramIdx, normalized, true);
}

cv::EditorControls* Corvalinth::Controls() {
    return GetUI() != nullptr ? editorControls_ : nullptr;
}

std::int64_t Corvalinth::SteadyNowNs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The guards. Each runs its body, catches everything, records the fault's domain and returns normally.

void Corvalinth::ProcessBlock(double** inputs, double** outputs, int nFrames) {
    const auto silence = [&]() noexcept {
        if (nFrames < 1 || outputs == nullptr)
            return;
        const int outCh = NOutChansConnected();
        for (int c = 0; c < outCh; ++c)
            if (outputs[c] != nullptr)
                std::fill_n(outputs[c], nFrames, 0.0);
    };
    if (latch_.Muted()) {
        silence();
        return;
    }
    try {
        ProcessBlockImpl(inputs, outputs, nFrames);
    } catch (...) {
        silence();
        latch_.ReportHostCallbackFailure(cv::HostCallbackFaultLatch::Audio);
    }
}

void Corvalinth::OnReset() {
    try {
        OnResetImpl();
        latch_.ClearMuted();
    } catch (...) {
        latch_.ReportHostCallbackFailure(cv::HostCallbackFaultLatch::Audio);
    }
}

void Corvalinth::OnIdle() {
    try {
        OnIdleImpl();
    } catch (...) {
        latch_.ReportHostCallbackFailure(cv::HostCallbackFaultLatch::UI);
        try {
            SurfaceHostCallbackFailure();
        } catch (...) {
            // Showing the notice failed as well; a later tick tries again.
        }
    }
}

void Corvalinth::OnUIOpen() {
    try {
        OnUIOpenImpl();
    } catch (...) {
        latch_.ReportHostCallbackFailure(cv::HostCallbackFaultLatch::UI);
    }
}

void Corvalinth::OnParentWindowResize(int width, int height) {
    try {
        OnParentWindowResizeImpl(width, height);
    } catch (...) {
        latch_.ReportHostCallbackFailure(cv::HostCallbackFaultLatch::UI);
    }
}

bool Corvalinth::SerializeState(iplug::IByteChunk& chunk) const {
    try {
        return SerializeStateImpl(chunk);
    } catch (...) {
        latch_.ReportHostCallbackFailure(cv::HostCallbackFaultLatch::State);
        return false;
    }
}

void Corvalinth::OnRestoreStateBegin() {
    try {
        OnRestoreStateBeginImpl();
    } catch (...) {
        latch_.ReportHostCallbackFailure(cv::HostCallbackFaultLatch::State);
    }
}

void Corvalinth::OnActivate(bool active) {
    if (!active)
        deactivatedFlag_.store(true);
}

void Corvalinth::ToggleCompare() {
    player_.setCompare(!player_.compare());
}
