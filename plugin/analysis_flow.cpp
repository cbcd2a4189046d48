// The analysis road on the main thread: an analysis of the source audio is requested, its result turns
// into the edit document, and the captured audio plays in place until an edit's render replaces it.
// The editing parameters the host or the editor changed are applied here too.

#include "engine/analysis/analysis_plan.h"
#include "plugin/Corvalinth.h"

#include <cstdio>

namespace {

constexpr const char* kAlignCapture =
    "Couldn't align the capture to the DAW timeline. Check the DAW sample rate and capture again.";
constexpr const char* kTooLargeToAnalyze =
    "This audio is too large to analyze. Shorten it, convert it to mono, or use a lower sample rate.";
constexpr const char* kCouldNotPrepare = "Couldn't prepare the captured audio. Capture it again.";
constexpr const char* kCouldNotAnalyze = "Couldn't analyze this audio.";
constexpr const char* kJumpedKept =
    "Capture stopped when the DAW timeline jumped. Audio captured before the jump was kept.";
constexpr const char* kSeveralVoices =
    "Corvalinth detected more than one voice. Chords may not edit reliably.";
constexpr float kSeveralVoicesScore = 0.25f;

bool hasContent(const np::Document& document) {
    return document.audio != nullptr && (!document.track.frames.empty() || !document.notes.empty());
}

} // namespace

bool Corvalinth::StartAnalysis() {
    if (sourceAudio_ == nullptr)
        return false;
    try {
        const bool reanalysis = hasContent(session_.document());
        if (!reanalysis) {
            np::Document empty;
            empty.sampleRate = sourceRate_;
            empty.audio = sourceAudio_;
            empty.track.sampleRate = sourceRate_;
            session_.setDocument(std::move(empty));
            ApplyKeyScaleParams();
            cleanRevision_ = session_.contentRevision();
            requestedRenderRevision_ = session_.editCount();
            completedRenderRevision_ = session_.editCount();
            PublishDawStateSnapshot();
            InformHostOfStateChange();
            InstallSourceAsRegion();
        }

        const int algorithm = GetParam(cv::kParamAlgorithm)->Int();
        const bool percussive = algorithm == 1;
        const np::AnalysisConfig config;
        const np::AnalysisMemoryPlan plan =
            percussive ? np::planPercussiveAnalysisMemory(sourceAudio_->channels, sourceAudio_->frames,
                                                          sourceRate_, config)
                       : np::planMelodicAnalysisMemory(sourceAudio_->channels, sourceAudio_->frames,
                                                       sourceRate_, config);
        if (!plan.ok) {
            if (reanalysis)
                RevertAlgorithmParameter(lastAnalysedAlgorithm_);
            SetError(kTooLargeToAnalyze);
            return false;
        }
        // Only now does the region of the old analysis go silent: a refused plan leaves it playing. Should
        // the analysis end without a result, the render flow renders the old document again.
        if (reanalysis)
            playbackGeneration_.fetch_add(1);
        analysisCancelling_ = false;
        analysisStartNs_ = SteadyNowNs();
        analysis_.request(sourceAudio_, sourceRate_, percussive, sessionGeneration_.load(),
                          session_.contentRevision());
        return true;
    } catch (...) {
        SetError(kCouldNotPrepare);
        return false;
    }
}

void Corvalinth::InstallSourceAsRegion() {
    consumedPlaybackGeneration_ = playbackGeneration_.load();
    if (sourceRate_ != EngineSampleRate()) {
        // Played unconverted it would sound off pitch and drift from the timeline: the render flow
        // renders the source at the engine rate instead.
        requestedRenderRevision_ = 0;
        completedRenderRevision_ = 0;
        return;
    }
    std::int64_t anchor = 0;
    if (!HostAnchorAtEngineRate(anchor)) {
        SetError(kAlignCapture);
        return;
    }
    auto source = std::make_unique<np::PlaybackSource>();
    source->shared = sourceAudio_;
    largestRenderBytes_.store(0);
    heldRenderBytes_.store(0);
    player_.setRegion(std::move(source), anchor, playbackGeneration_.load());
}

void Corvalinth::PollAnalysis() {
    std::optional<np::AnalysisWorker::Result> result = analysis_.takeResult();
    if (!result) {
        // An analysis cancelled by a clear or a newer session ends without a result: its progress line
        // goes with it (Escape's "Cancelling analysis" is the idle loop's to clear).
        if (progressOwner_ == ProgressOwner::Analysis && !analysisCancelling_ && !AnalysisBusy())
            ClearProgressStatus(ProgressOwner::Analysis);
        return;
    }
    ClearProgressStatus(ProgressOwner::Analysis);
    const cv::AnalysisStamps now{sessionGeneration_.load(), session_.contentRevision()};
    if (!cv::analysisResultCurrent({result->stampA, result->stampB}, now, sourceAudio_ != nullptr))
        return;
    if (!result->error.empty()) {
        SetError(kCouldNotAnalyze);
        return;
    }

    session_.setDocument(np::makeDocument(sourceAudio_, sourceRate_, result->analysis));
    appliedAlgorithm_ = lastAnalysedAlgorithm_ = GetParam(cv::kParamAlgorithm)->Int();
    // An unedited analysed document is never rendered: the captured audio itself plays in place.
    requestedRenderRevision_ = session_.editCount();
    completedRenderRevision_ = session_.editCount();
    ApplyKeyScaleParams();
    cleanRevision_ = session_.contentRevision();
    savedMeta_ = CurrentSessionMeta();
    InstallSourceAsRegion();
    PublishDawStateSnapshot();
    InformHostOfStateChange();

    if (captureTimelineJumped_) {
        captureTimelineJumped_ = false;
        SetWarning(kJumpedKept);
    } else if (captureMemoryLimited_) {
        captureMemoryLimited_ = false;
        const double minutes =
            sourceRate_ > 0.0 ? static_cast<double>(captureArmedFrames_) / sourceRate_ / 60.0 : 0.0;
        char text[128];
        std::snprintf(text, sizeof text,
                      "Capture stopped at the %.1f-minute limit. The captured audio was kept.", minutes);
        SetWarning(text);
    } else if (result->analysis.polyphonyScore > kSeveralVoicesScore &&
               severalVoicesWarned_ != sessionGeneration_.load()) {
        severalVoicesWarned_ = sessionGeneration_.load();
        SetWarning(kSeveralVoices);
    }
    RefreshEditor(true);
}

void Corvalinth::ApplyPendingEditingParams() {
    // Taken in one exchange so that a change arriving meanwhile waits for the next tick.
    const std::uint32_t pending = pendingParams_.exchange(0);
    if (pending == 0)
        return;
    constexpr std::uint32_t kKeyScaleA4 =
        (1u << cv::kParamKey) | (1u << cv::kParamScale) | (1u << cv::kParamA4);
    if ((pending & kKeyScaleA4) != 0) {
        ApplyKeyScaleParams();
        ++parameterChanges_;
    }
    if ((pending & (1u << cv::kParamTempo)) != 0)
        ++parameterChanges_;
    const int algorithm = GetParam(cv::kParamAlgorithm)->Int();
    if ((pending & (1u << cv::kParamAlgorithm)) != 0 && algorithm != appliedAlgorithm_) {
        ++parameterChanges_;
        ApplyAlgorithmChange(algorithm);
        return;
    }
    PublishDawStateSnapshot();
}

void Corvalinth::ApplyAlgorithmChange(int algorithm) {
    if (sourceAudio_ == nullptr) {
        appliedAlgorithm_ = lastAnalysedAlgorithm_ = algorithm;
        PublishDawStateSnapshot();
        return;
    }
    cv::EditorControls* controls = Controls();
    if (session_.document().audio == nullptr || session_.contentRevision() == cleanRevision_ ||
        controls == nullptr) {
        appliedAlgorithm_ = algorithm;
        PublishDawStateSnapshot();
        StartAnalysis();
        return;
    }
    PublishDawStateSnapshot();
    const bool asked = controls->AskConfirmation(
        "Change algorithm", "Changing the algorithm will remove all edits\nand analyze the audio again.",
        {"Change algorithm", "Cancel"}, 1, [this, algorithm](int button) {
            if (button == 0) {
                appliedAlgorithm_ = algorithm;
                StartAnalysis();
            } else {
                RevertAlgorithmParameter(appliedAlgorithm_);
            }
        });
    if (!asked)
        RevertAlgorithmParameter(appliedAlgorithm_);
}

void Corvalinth::RevertAlgorithmParameter(int algorithm) {
    // Taken as applied first, so the change sent back is not taken as a new request.
    appliedAlgorithm_ = algorithm;
    SendParameterToHost(cv::kParamAlgorithm, algorithm);
}
