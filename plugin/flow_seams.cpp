// The roads that the idle loop polls and the cancel action stops, as far as this object has them: the
// capture intake, the analysis, render and audition flows, the state restore and the file jobs each
// live in a file of their own once built, and replace the bodies here.

#include "plugin/Corvalinth.h"

void Corvalinth::ApplyPendingDawRestore() {}

void Corvalinth::PollTransfer() {}

void Corvalinth::ApplyPendingEditingParams() {
    // Taken in one exchange so that a change arriving meanwhile waits for the next tick.
    const std::uint32_t pending = pendingParams_.exchange(0);
    if (pending == 0)
        return;
    constexpr std::uint32_t kKeyScaleA4 =
        (1u << cv::kParamKey) | (1u << cv::kParamScale) | (1u << cv::kParamA4);
    if ((pending & kKeyScaleA4) != 0)
        ApplyKeyScaleParams();
}

void Corvalinth::ClearCaptureStatistics() {}

void Corvalinth::PollFileJob() {}

void Corvalinth::PollAnalysis() {}

void Corvalinth::PollRenderFlow() {}

void Corvalinth::PollAuditionFlow() {}

void Corvalinth::ClearDocument(bool) {}

void Corvalinth::CancelRender() {}

bool Corvalinth::RenderBusy() const {
    return false;
}

void Corvalinth::PublishDawStateSnapshot() {}

bool Corvalinth::SerializeStateImpl(iplug::IByteChunk& chunk) const {
    return iplug::Plugin::SerializeState(chunk);
}

void Corvalinth::OnRestoreStateBeginImpl() {}
