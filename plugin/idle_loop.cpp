// The idle loop: every 20 ms on the main thread it applies what the host threads left pending, polls
// every worker, runs the deferred action, and refreshes the editor's readouts and the progress line.

#include "plugin/Corvalinth.h"

#include <cmath>
#include <cstdio>
#include <new>

namespace cv {

std::string formatTimeReadout(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0.0)
        seconds = 0.0;
    const auto whole = static_cast<long long>(seconds);
    const auto hundredths = static_cast<long long>(100.0 * seconds) % 100;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld.%02lld", whole / 60, whole % 60, hundredths);
    return text;
}

std::string formatNoteCount(std::size_t notes, std::optional<std::size_t> selected) {
    char text[96];
    if (selected && *selected > 0)
        std::snprintf(text, sizeof text, "%zu notes \xC2\xB7 %zu selected", notes, *selected);
    else
        std::snprintf(text, sizeof text, "%zu notes", notes);
    return text;
}

} // namespace cv

void Corvalinth::OnIdleImpl() {
    for (const IdleStep step : kIdleOrder)
        RunIdleStep(step);
}

void Corvalinth::RunIdleStep(IdleStep step) {
    switch (step) {
    case IdleStep::SurfaceFault:
        SurfaceHostCallbackFailure();
        break;
    case IdleStep::ApplyPendingRestore:
        ApplyPendingDawRestore();
        break;
    case IdleStep::AbortCaptureIfDeactivated:
        AbortCaptureIfDeactivated();
        break;
    case IdleStep::PollTransfer:
    case IdleStep::PollTransferAgain:
        PollTransfer();
        break;
    case IdleStep::ApplyPendingAudioReset:
        ApplyPendingAudioReset();
        break;
    case IdleStep::ApplyPendingEditingParams:
        ApplyPendingEditingParams();
        break;
    case IdleStep::AbortCaptureWithoutPosition:
        AbortCaptureWithoutPosition();
        break;
    case IdleStep::FreeRetiredNodes:
        FreeRetiredNodes();
        break;
    case IdleStep::PollFileJob:
        PollFileJob();
        break;
    case IdleStep::PollWorkers:
        PollWorkers();
        break;
    case IdleStep::RunDeferredAction:
        RunDeferredActionWhenQuiescent();
        break;
    case IdleStep::PollUpdateCheck:
        PollUpdateCheck();
        break;
    case IdleStep::RefreshReadouts:
        RefreshReadouts();
        break;
    case IdleStep::RefreshProgressLine:
        RefreshProgressLine();
        break;
    }
}

void Corvalinth::AbortCaptureIfDeactivated() {
    if (!deactivatedFlag_.exchange(false))
        return;
    CancelCapture();
    PollTransfer();
}

void Corvalinth::AbortCaptureWithoutPosition() {
    if (!noPositionFlag_.exchange(false))
        return;
    CancelCapture();
    ClearCaptureStatistics();
    SetError(kNoPositionMessage);
}

void Corvalinth::FreeRetiredNodes() {
    player_.drainRetired();
    voice_.drainRetired();
}

void Corvalinth::PollWorkers() {
    PollAnalysis();
    PollRenderFlow();
    PollAuditionFlow();
}

void Corvalinth::RunDeferredActionWhenQuiescent() {
    if (!deferredAction_ || !ReplacementWorkersQuiescent())
        return;
    std::function<void()> action = std::move(deferredAction_);
    deferredAction_ = nullptr;
    ClearProgressStatus(ProgressOwner::Deferred);
    action();
}

void Corvalinth::PollUpdateCheck() {
    updates_.poll();
}

bool Corvalinth::DocumentEmpty() const {
    const np::Document& document = session_.document();
    return document.audio == nullptr || (document.track.frames.empty() && document.notes.empty());
}

cv::EditorReadouts Corvalinth::ComputeReadouts(std::optional<std::size_t> selectedNotes) const {
    cv::EditorReadouts readouts;
    readouts.playheadDocFrame = CurrentDocPlayhead();
    readouts.timeText = cv::formatTimeReadout(TransportSeconds());
    readouts.unsavedMark = session_.document().audio != nullptr && (HasUnsavedEdits() || !MetaMatchesSaved());
    readouts.documentEmpty = DocumentEmpty();
    if (!readouts.documentEmpty)
        readouts.noteCountText = cv::formatNoteCount(session_.document().notes.size(), selectedNotes);
    readouts.captureValue = capture_.isActive() ? 1.0 : 0.0;
    readouts.originalValue = player_.compare() ? 1.0 : 0.0;
    return readouts;
}

void Corvalinth::RefreshReadouts() {
    cv::EditorControls* controls = Controls();
    if (controls == nullptr)
        return;
    controls->ShowReadouts(ComputeReadouts(controls->SelectedNoteCount()));
}

void Corvalinth::RefreshProgressLine() {
    if (Controls() == nullptr)
        return;
    const std::int64_t now = SteadyNowNs();
    const auto ran450 = [now](std::int64_t start) { return now - start >= kProgressDelayNs; };

    if (DeferredActionWaits()) {
        if (ran450(deferredStartNs_))
            SetProgressStatus(deferredText_.c_str(), 0.0f, true, ProgressOwner::Deferred);
        return;
    }
    const bool fileJobRuns = fileJob_.running;
    if (!fileJobRuns && analysisCancelling_) {
        if (AnalysisBusy()) {
            if (ran450(analysisStartNs_))
                SetProgressStatus("Cancelling analysis", analysis_.progress(), false,
                                  ProgressOwner::Analysis);
        } else {
            analysisCancelling_ = false;
            ClearProgressStatus(ProgressOwner::Analysis);
        }
        return;
    }
    if (!fileJobRuns && AnalysisBusy()) {
        if (ran450(analysisStartNs_)) {
            const float progress = analysis_.progress();
            char text[64];
            std::snprintf(text, sizeof text, "Analyzing audio \xC2\xB7 %d%%",
                          static_cast<int>(100.0f * progress));
            SetProgressStatus(text, progress, true, ProgressOwner::Analysis);
        }
        return;
    }
    if (!fileJobRuns && renderCancelling_) {
        if (!RenderBusy()) {
            renderCancelling_ = false;
            ClearProgressStatus(ProgressOwner::Render);
        }
        return;
    }
    if (!fileJobRuns || !ran450(fileJob_.startNs))
        return;
    const bool cancelled = fileJob_.cancel.load();
    if (queuedFileJob_ && cv::fileJobUsesGlobalProgress(queuedFileJob_->kind)) {
        SetProgressStatus(cv::fileJobProgressText(queuedFileJob_->kind), 0.0f, !cancelled,
                          ProgressOwner::FileJob);
    } else if (cv::fileJobUsesGlobalProgress(fileJob_.kind)) {
        SetProgressStatus(cancelled ? cv::fileJobCancelText(fileJob_.kind)
                                    : cv::fileJobProgressText(fileJob_.kind),
                          fileJob_.progress.load(), !cancelled, ProgressOwner::FileJob);
    }
}

std::int64_t Corvalinth::CurrentDocPlayhead() const {
    const double docRate = sourceRate_;
    const double engineRate = EngineSampleRate();
    const auto inRange = [](double rate) {
        return std::isfinite(rate) && rate >= 8000.0 && rate <= 384000.0;
    };
    if (!inRange(docRate) || !inRange(engineRate))
        return 0;
    std::int64_t anchor = 0;
    if (!np::scaleFramePosition(captureAnchor_, docRate, engineRate, anchor))
        anchor = 0;
    std::int64_t diff = 0;
    if (__builtin_sub_overflow(lastHostPosition_.load(std::memory_order_relaxed), anchor, &diff))
        diff = 0;
    std::int64_t frame = 0;
    return np::scaleFramePosition(diff, engineRate, docRate, frame) ? frame : 0;
}

void Corvalinth::RefreshEditor(bool fit) {
    if (fit)
        ForgetEditorViewport();
    RetryFailedWaveformCache();
    RefreshWaveformCache();
    cv::EditorControls* controls = Controls();
    if (controls == nullptr || !controls->HasCanvas())
        return;
    if (fit)
        controls->FitCanvasToDocument();
    controls->RedrawCanvas();
}

std::shared_ptr<const np::PeakCache> Corvalinth::WaveformCache() {
    RefreshWaveformCache();
    return peakCache_;
}

void Corvalinth::RefreshWaveformCache() {
    // Asked at every frame tick: a source whose build failed is remembered like a built one, so a window
    // at rest tries it no more; new audio, or a redraw the plug-in asks for, tries again.
    const std::shared_ptr<const np::AudioBuffer>& source = session_.document().audio;
    if (source == peakCacheSource_)
        return;
    std::shared_ptr<np::PeakCache> cache;
    std::uint64_t bytes = 0;
    if (source != nullptr) {
        try {
            cache = std::make_shared<np::PeakCache>();
            if (buildPeaks_)
                buildPeaks_(*cache, *source);
            else
                cache->build(*source);
            bytes = cv::peakCacheEstimateBytes(source->frames);
        } catch (const std::bad_alloc&) {
            cache.reset(); // no waveform rather than the peaks of another take
        }
    }
    peakCache_ = std::move(cache);
    peakCacheSource_ = source;
    peakCacheBytes_ = bytes;
}

void Corvalinth::RetryFailedWaveformCache() noexcept {
    if (peakCache_ == nullptr)
        peakCacheSource_.reset();
}
