// Notices, the progress line and its owner, the latched fault's notice, the deferred action that waits
// for the workers, and the cancel action. Main thread.

#include "plugin/Corvalinth.h"

#include <algorithm>
#include <cmath>

void Corvalinth::ShowNotice(const char* text, cv::NoticeKind kind, int durationMs) {
    if (text == nullptr || *text == '\0')
        return;
    cv::EditorControls* controls = Controls();
    if (controls == nullptr || !controls->HasNoticeLine()) {
        // An error finishing while the editor is closed (an export, a render) waits for the next open.
        if (kind == cv::NoticeKind::Error)
            pendingError_ = text;
        return;
    }
    controls->ShowNotice(text, kind, durationMs);
}

void Corvalinth::ShowPendingError() {
    if (pendingError_.empty())
        return;
    cv::EditorControls* controls = Controls();
    if (controls == nullptr || !controls->HasNoticeLine())
        return;
    controls->ShowNotice(pendingError_.c_str(), cv::NoticeKind::Error, cv::kStickyNoticeMs);
    pendingError_.clear();
}

void Corvalinth::SetStatus(const char* text) {
    ShowNotice(text, cv::NoticeKind::Status, cv::kStatusNoticeMs);
}

void Corvalinth::SetSuccess(const char* text) {
    ShowNotice(text, cv::NoticeKind::Success, cv::kSuccessNoticeMs);
}

void Corvalinth::SetWarning(const char* text) {
    ShowNotice(text, cv::NoticeKind::Warning, cv::kWarningNoticeMs);
}

void Corvalinth::SetError(const char* text) {
    ShowNotice(text, cv::NoticeKind::Error, cv::kStickyNoticeMs);
}

void Corvalinth::SetProgressStatus(const char* text, float fraction, bool cancellable, ProgressOwner owner) {
    cv::EditorControls* controls = Controls();
    if (controls == nullptr || !controls->HasNoticeLine())
        return;
    // An error is never covered by progress, and the owner stays as it was.
    if (controls->ShownNotice() == cv::NoticeKind::Error)
        return;
    const float clamped = std::isnan(fraction) ? 0.0f : std::clamp(fraction, 0.0f, 1.0f);
    controls->ShowProgress(text != nullptr ? text : "Working", clamped, cancellable);
    progressOwner_ = owner;
}

void Corvalinth::ClearProgressStatus(ProgressOwner owner) {
    if (owner != ProgressOwner::Any && owner != progressOwner_)
        return;
    cv::EditorControls* controls = Controls();
    if (controls != nullptr && controls->HasNoticeLine() &&
        controls->ShownNotice() == cv::NoticeKind::Progress)
        controls->DismissNotice();
    progressOwner_ = ProgressOwner::None;
}

void Corvalinth::SurfaceHostCallbackFailure() {
    const char* message = latch_.ClaimNotice();
    if (message == nullptr)
        return;
    bool shown = false;
    try {
        cv::EditorControls* controls = Controls();
        if (controls != nullptr && controls->HasNoticeLine()) {
            controls->ShowNotice(message, cv::NoticeKind::Error, cv::kStickyNoticeMs);
            shown = true;
        }
    } catch (...) {
        shown = false;
    }
    // Not shown (no editor, no notice line, or showing failed): a later tick with the editor open shows it.
    if (!shown)
        latch_.ReleaseUnshownNotice();
}

bool Corvalinth::ReplacementWorkersQuiescent() const {
    return !AnalysisBusy() && !RenderBusy() && !AuditionBusy();
}

bool Corvalinth::AnalysisBusy() const {
    return analysis_.busy();
}

bool Corvalinth::AuditionBusy() const {
    return auditionWorker_.busy();
}

void Corvalinth::RunAfterReplacementWorkersQuiesce(std::function<void()> action, const char* text) {
    if (ReplacementWorkersQuiescent()) {
        if (action)
            action();
        return;
    }
    analysis_.cancel();
    CancelRender();
    StopLiveAudition();
    deferredAction_ = std::move(action);
    deferredText_ = text != nullptr ? text : kDefaultDeferredText;
    deferredStartNs_ = SteadyNowNs();
}

bool Corvalinth::BackgroundWorkCancellable() const {
    return DeferredActionWaits() || fileJob_.running || AnalysisBusy();
}

void Corvalinth::CancelBackgroundWork() {
    if (deferredAction_) {
        deferredAction_ = nullptr;
        analysis_.cancel();
        CancelRender();
        StopLiveAudition();
        ClearProgressStatus(ProgressOwner::Deferred);
        return;
    }
    if (fileJob_.running) {
        fileJob_.cancel.store(true);
        return;
    }
    if (AnalysisBusy()) {
        analysis_.cancel();
        if (session_.document().audio != nullptr) {
            RevertAlgorithmParameter(lastAnalysedAlgorithm_);
        } else {
            ClearDocument(false);
        }
        analysisCancelling_ = true;
        return;
    }
    if (RenderBusy()) {
        CancelRender();
        renderCancelling_ = true;
    }
}
