// The capture road on the main thread: the Capture and Clear commands, arming within the memory the
// session leaves, the intake of a finished capture as a fresh session, the reset of the session, and
// the conversions between document frames and engine frames.

#include "plugin/Corvalinth.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr const char* kPreparingAudio = "The DAW is still preparing audio. Try Capture again in a moment.";
constexpr const char* kCaptureChanged = "The capture changed. Start Capture again to replace it.";
constexpr const char* kWaitForCapture = "Wait for the current capture to finish.";
constexpr const char* kNoMemoryForCapture =
    "Not enough memory for another capture. Close unused Corvalinth instances or capture a shorter section.";
constexpr const char* kAudioSetupMissing =
    "The DAW audio setup isn't available. Restart audio in the DAW and try again.";
constexpr const char* kNoMemoryToFinish = "Not enough memory to finish the capture. Close unused Corvalinth "
                                          "instances or capture a shorter section.";
constexpr const char* kCouldNotFinish = "Couldn't finish the capture. Try again.";
constexpr const char* kEditChanged = "Capture was cancelled because the existing edit changed.";
constexpr const char* kJumpedTooShort =
    "Capture stopped when the DAW timeline jumped. Turn off looping and try again.";
constexpr const char* kTooShort = "Capture at least 0.1 seconds of audio.";
constexpr const char* kCapturedLabel = "Captured audio";
constexpr const char* kNoFileLoaded = "No file loaded";

bool rateInRange(double rate) noexcept {
    return std::isfinite(rate) && rate >= 8000.0 && rate <= 384000.0;
}

// trunc(frame x toRate / fromRate) in extended precision; 0 when that is no 64-bit frame.
std::int64_t truncatingConversion(std::int64_t frame, double fromRate, double toRate) noexcept {
    const long double scaled = static_cast<long double>(frame) * static_cast<long double>(toRate) /
                               static_cast<long double>(fromRate);
    constexpr long double kLimit = 9223372036854775808.0L; // 2^63
    if (!std::isfinite(scaled) || scaled >= kLimit || scaled < -kLimit)
        return 0;
    return static_cast<std::int64_t>(scaled);
}

} // namespace

void Corvalinth::ToggleTransfer() {
    if (capture_.isActive()) {
        CancelCapture();
        // A recording that ended here is taken by PollTransfer like any finished capture.
        if (!capture_.isActive() && capture_.state() != np::TransferCapture::State::Done)
            ClearCaptureStatistics();
        return;
    }
    if (session_.document().audio == nullptr || (!HasUnsavedEdits() && MetaMatchesSaved())) {
        ArmTransfer();
        return;
    }
    if (cv::EditorControls* controls = Controls()) {
        controls->AskConfirmation(
            "Replace capture?",
            "A new capture will replace this capture and its edits.\nSave the DAW project "
            "first if you may need this version.",
            {"Replace", "Cancel"}, 1, [this](int button) {
                if (button == 0)
                    ArmTransfer();
            });
    }
}

void Corvalinth::ArmTransfer() {
    noPositionFlag_.store(false);
    noPositionFrames_.store(0);

    const std::uint64_t sequence = audioConfig_.sequence();
    if (sequence == 0 || (sequence & 1u) != 0 || sequence != capturePreparedSequence_.load()) {
        SetWarning(kPreparingAudio);
        return;
    }
    if (WarnWhileFileJobRuns())
        return;
    const cv::CaptureStamps stamps{sessionGeneration_.load(), session_.contentRevision(), parameterChanges_};
    if (!ReplacementWorkersQuiescent()) {
        RunAfterReplacementWorkersQuiesce(
            [this, stamps] {
                if (cv::CaptureStamps{sessionGeneration_.load(), session_.contentRevision(),
                                      parameterChanges_} == stamps)
                    ArmTransfer();
                else
                    SetWarning(kCaptureChanged);
            },
            "Preparing capture");
        return;
    }

    const std::optional<std::uint64_t> inUse = cv::captureBytesInUse(CurrentResidentMemory());
    if (!inUse) {
        SetError(kNoMemoryForCapture);
        return;
    }
    if (capture_.arm(*inUse)) {
        captureStats_ = stamps;
        return;
    }
    switch (capture_.armStatus()) {
    case np::TransferCapture::ArmStatus::AlreadyActive:
        SetWarning(kWaitForCapture);
        break;
    case np::TransferCapture::ArmStatus::TooLarge:
    case np::TransferCapture::ArmStatus::AllocationFailed:
        SetError(kNoMemoryForCapture);
        break;
    default:
        SetError(kAudioSetupMissing);
        break;
    }
}

void Corvalinth::ClearCapture() {
    if (session_.document().audio == nullptr && sourceAudio_ == nullptr)
        return;
    cv::EditorControls* controls = Controls();
    if (controls == nullptr)
        return;
    controls->AskConfirmation("Clear capture?", "Remove this capture and all its edits?",
                              {"Clear capture", "Cancel"}, 1, [this](int button) {
                                  if (button != 0)
                                      return;
                                  CancelCapture();
                                  player_.setCompare(false);
                                  ClearDocument(false);
                                  RefreshEditor(true);
                                  InformHostOfStateChange();
                              });
}

void Corvalinth::ClearCaptureStatistics() {
    captureStats_.reset();
}

void Corvalinth::PollTransfer() {
    // While recording, keeps the buffer's pages backed ahead of the audio thread.
    capture_.prefaultAhead();
    if (capture_.state() != np::TransferCapture::State::Done)
        return;
    // Read before the take, which forgets the arm.
    const std::int64_t armedFrames = capture_.armedFrames();
    std::unique_ptr<np::TransferCapture::Capture> taken = capture_.takeCapture();
    if (!taken) {
        SetError(capture_.finishStatus() == np::TransferCapture::FinishStatus::OutOfMemory ? kNoMemoryToFinish
                                                                                           : kCouldNotFinish);
        ClearCaptureStatistics();
        return;
    }
    const cv::CaptureVerdict verdict = cv::judgeCapture(
        captureStats_, {sessionGeneration_.load(), session_.contentRevision(), parameterChanges_});
    ClearCaptureStatistics();
    // An aborted capture (no host position) was reported when it was aborted: it goes without a word.
    if (verdict == cv::CaptureVerdict::Abandoned)
        return;
    if (verdict == cv::CaptureVerdict::EditChanged) {
        SetWarning(kEditChanged);
        return;
    }
    if (taken->audio.frames < static_cast<std::int64_t>(kMinCaptureSeconds * taken->sampleRate)) {
        SetWarning(taken->endReason == np::TransferCapture::EndReason::TimelineJumped ? kJumpedTooShort
                                                                                      : kTooShort);
        return;
    }
    InstallCapture(std::move(taken), armedFrames);
}

void Corvalinth::InstallCapture(std::unique_ptr<np::TransferCapture::Capture> capture,
                                std::int64_t armedFrames) {
    ClearDocument(false);
    captureMemoryLimited_ = capture->endReason == np::TransferCapture::EndReason::BufferFull;
    captureTimelineJumped_ = capture->endReason == np::TransferCapture::EndReason::TimelineJumped;
    captureArmedFrames_ = armedFrames;
    sourceAudio_ = std::make_shared<const np::AudioBuffer>(std::move(capture->audio));
    sourceRate_ = capture->sampleRate;
    captureAnchor_ = capture->startPosition;
    fileLabel_ = kCapturedLabel;
    session_ = np::EditSession{};
    ApplyKeyScaleParams();
    requestedRenderRevision_ = 0;
    completedRenderRevision_ = 0;
    char text[160];
    std::snprintf(text, sizeof text, "Captured audio  \xE2\x80\x94  %.1f s @ %.1f kHz",
                  static_cast<double>(sourceAudio_->frames) / sourceRate_, sourceRate_ / 1000.0);
    ShowFileReadout(text);
    if (!StartAnalysis()) {
        captureMemoryLimited_ = false;
        captureTimelineJumped_ = false;
    }
}

void Corvalinth::ClearDocument(bool) {
    ClearProgressStatus(ProgressOwner::Any);
    deferredAction_ = nullptr;
    CancelFileJobsForClear();

    if (!restoring_) {
        sessionGeneration_.fetch_add(1);
        std::lock_guard lock(offlineMutex_);
        playbackGeneration_.fetch_add(1);
        offline_ = OfflineRenderState{};
        CancelRender();
    }

    analysis_.cancel();
    StopLiveAudition();
    if (!restoring_) {
        player_.clearRegion();
        heldRenderBytes_.store(0);
    }

    session_ = np::EditSession{};

    sourceAudio_.reset();
    sourceRate_ = 48000.0;
    fileLabel_.clear();
    captureAnchor_ = 0;
    peakCache_.reset();
    peakCacheSource_.reset();
    peakCacheBytes_ = 0;
    if (!restoring_)
        largestRenderBytes_.store(0);

    savedMeta_.reset();
    requestedRenderRevision_ = 0;
    completedRenderRevision_ = 0;
    lastAnalysedAlgorithm_ = GetParam(cv::kParamAlgorithm)->Int();
    analysisCancelling_ = false;
    renderCancelling_ = false;
    captureMemoryLimited_ = false;
    captureTimelineJumped_ = false;

    ResetFileReadout();
    if (!restoring_)
        PublishEmptyDawStateSnapshot();
}

void Corvalinth::ShowFileReadout(const char* text) {
    fileReadoutText_ = text;
    if (cv::EditorControls* controls = Controls())
        controls->ShowFileText(text);
}

void Corvalinth::ResetFileReadout() {
    fileReadoutText_.clear();
    if (cv::EditorControls* controls = Controls())
        controls->ResetFileReadout(kNoFileLoaded);
}

cv::ResidentMemory Corvalinth::CurrentResidentMemory() const {
    cv::ResidentMemoryInputs in;
    in.sessionResidentBytes = session_.estimatedResidentBytes();
    in.sessionSource = session_.document().audio.get();
    in.pluginSource = sourceAudio_.get();
    in.largestRenderBytes = largestRenderBytes_.load();
    in.waveformCacheBytes = peakCacheBytes_;
    return cv::residentMemoryTotals(in);
}

bool Corvalinth::HostAnchorAtEngineRate(std::int64_t& out) const {
    return np::scaleFramePosition(captureAnchor_, sourceRate_, EngineSampleRate(), out);
}

std::int64_t Corvalinth::DocToEngine(std::int64_t frame) const {
    return rateInRange(sourceRate_) ? truncatingConversion(frame, sourceRate_, EngineSampleRate()) : 0;
}

std::int64_t Corvalinth::EngineToDoc(std::int64_t frame) const {
    return rateInRange(EngineSampleRate()) ? truncatingConversion(frame, EngineSampleRate(), sourceRate_) : 0;
}
