// The render road on the main thread: every edit makes the region rendered before it stale at once, and
// a copy of the new revision goes to the render worker; its result is installed as the region anchored
// at the capture's host position. The revision renders are keyed on is the session's edit count, so
// undo and redo render again too.

#include "plugin/Corvalinth.h"

namespace {

constexpr const char* kCouldNotPrepare = "Couldn't prepare edited playback.";
constexpr const char* kNoMemoryForPlayback =
    "Not enough memory for edited playback. Close unused Corvalinth instances and try again.";
constexpr const char* kCouldNotAlign =
    "Couldn't align edited audio to the DAW timeline. Check the DAW sample rate and try again.";
constexpr const char* kBounceFailed = "Corvalinth couldn't render edited audio for the DAW.";

// A failed render's notice: the flow's sentence, then the render's own message, which names the limit
// it met, as a sentence of its own.
std::string renderFailureNotice(const char* sentence, const std::string& reason) {
    std::string text = sentence;
    if (!reason.empty())
        text += " " + reason + (reason.back() == '.' ? "" : ".");
    return text;
}

} // namespace

void Corvalinth::OnDocumentEdited() {
    if (session_.editCount() != requestedRenderRevision_)
        playbackGeneration_.fetch_add(1); // the track's own input is heard until the new render arrives
    if (cv::EditorControls* controls = Controls())
        controls->RedrawCanvas();
    if (!session_.inGesture()) {
        PublishDawStateSnapshot();
        InformHostOfStateChange();
    }
    PollRenderFlow();
}

void Corvalinth::PollRenderFlow() {
    if (session_.document().audio == nullptr)
        return;
    // The idle loop never blocks on a bounce that is waiting for its render.
    std::unique_lock lock(offlineMutex_, std::try_to_lock);
    if (!lock.owns_lock())
        return;

    // What the offline path settled, read only under the lock it writes them under.
    const std::uint64_t revision = session_.editCount();
    const std::uint64_t generation = playbackGeneration_.load();
    if (cv::offlinePairSettles(offline_.installed, revision, generation, completedRenderRevision_)) {
        ClearProgressStatus(ProgressOwner::Render);
        completedRenderRevision_ = revision;
    }
    if (cv::offlinePairSettles(offline_.failed, revision, generation, completedRenderRevision_)) {
        ClearProgressStatus(ProgressOwner::Render);
        SetError(renderFailureNotice(kBounceFailed, offline_.failedReason).c_str());
        completedRenderRevision_ = revision;
    }

    if (std::optional<np::RenderWorker::Result> result = renderWorker_.takeResult()) {
        ClearProgressStatus(ProgressOwner::Render);
        const cv::RenderTags tags{result->tagA, result->tagB, result->tagC};
        if (cv::renderResultCurrent(tags, {revision, sessionGeneration_.load(), generation}))
            InstallRenderResult(std::move(*result));
    }

    // A playback generation that no region was installed or asked for leaves the document unheard: a
    // change of rate (and back, between two ticks), or a re-analysis that ended without a result. The
    // document is rendered again for the current rate. The offline path may have asked for it during a
    // bounce; an analysis still on its way installs its own region, and a restore being decoded
    // replaces the document.
    const bool regionUnasked = generation != consumedPlaybackGeneration_ &&
                               !(offline_.key == revision && offline_.requestGeneration == generation) &&
                               !AnalysisBusy() && !restorePending_.load();
    // A waiting deferred action needs the render worker idle: the render is requested after it ran.
    if ((regionUnasked || cv::renderDue(revision, requestedRenderRevision_, completedRenderRevision_)) &&
        !DeferredActionWaits())
        RequestRender();
}

void Corvalinth::RequestRender() {
    const std::uint64_t revision = session_.editCount();
    const std::uint64_t generation = playbackGeneration_.load();
    const std::uint64_t sessionGeneration = sessionGeneration_.load();
    renderCancelling_ = false;
    consumedPlaybackGeneration_ = generation;
    try {
        auto document = std::make_shared<const np::Document>(session_.document());
        offline_.key = revision;
        offline_.requestGeneration = generation;
        offline_.requestSessionGeneration = sessionGeneration;
        offline_.anchorValid = HostAnchorAtEngineRate(offline_.anchor);
        offline_.installed.reset();
        offline_.failed.reset();
        offline_.failedReason.clear();
        offline_.document = document;
        offline_.documentAnchor = captureAnchor_;
        offlineRequestId_.store(0);
        np::RenderOptions options;
        options.reservedBytes = RenderReserveBytes();
        renderWorker_.requestRender(*document, revision, EngineSampleRate(), std::move(options),
                                    sessionGeneration, generation, &offlineRequestId_);
    } catch (...) {
        // Not even the request could be made: asking again on every tick would fail the same way.
        SetError(kCouldNotPrepare);
        completedRenderRevision_ = revision;
    }
    requestedRenderRevision_ = revision;
}

void Corvalinth::InstallRenderResult(np::RenderWorker::Result result) {
    const std::uint64_t revision = result.tagA;
    const std::uint64_t generation = result.tagC;
    completedRenderRevision_ = revision;
    if (!result.error.empty() || result.audio == nullptr) {
        SetError(renderFailureNotice(kCouldNotPrepare, result.error).c_str());
        offline_.failed = cv::RenderPair{revision, generation};
        offline_.failedReason = std::move(result.error);
        return;
    }
    if (!np::AudioBuffer::fits(result.audio->channels, result.audio->frames)) {
        SetError(kNoMemoryForPlayback);
        return;
    }
    std::int64_t anchor = 0;
    if (!HostAnchorAtEngineRate(anchor)) {
        SetError(kCouldNotAlign);
        return;
    }
    InstallRenderedRegion(std::move(result.audio), anchor, generation);
    offline_.installed = cv::RenderPair{revision, generation};
}

void Corvalinth::InstallRenderedRegion(std::unique_ptr<np::AudioBuffer> audio, std::int64_t anchor,
                                       std::uint64_t generation) {
    auto source = std::make_unique<np::PlaybackSource>();
    source->audio = std::move(*audio);
    const std::uint64_t bytes = cv::audioBytes(&source->audio);
    if (bytes > largestRenderBytes_.load())
        largestRenderBytes_.store(bytes);
    heldRenderBytes_.store(bytes);
    player_.setRegion(std::move(source), anchor, generation);
}

std::uint64_t Corvalinth::RenderReserveBytes() const noexcept {
    // The render the player holds stays in memory while the next one is made; the captured audio the
    // render reads is counted by the render itself. Reserving a multiple of the largest render ever
    // made instead would refuse the second edit of a take of a few minutes.
    return heldRenderBytes_.load();
}

void Corvalinth::CancelRender() {
    renderWorker_.cancel();
    // The revision it was rendering is requested again on the next tick.
    requestedRenderRevision_ = completedRenderRevision_;
}

bool Corvalinth::RenderBusy() const {
    return renderWorker_.busy();
}
