#pragma once

// Corvalinth, the plug-in: one object per instance owns every engine member for its lifetime and ties
// them to the host through the framework's entry points.
//
// Threads, as the framework calls them: ProcessBlock on the host's audio thread (lock-free, no
// allocation, nothing thrown; only an offline bounce waits); OnReset and OnActivate on the thread the
// host configures audio from; OnIdle every 20 ms and everything about the editor on the main thread;
// OnParamChange, the state calls and the restore hook on any host thread. Every guarded callback runs
// its ...Impl body inside a guard that records a fault in the latch and returns normally.
//
// No thread of the plug-in's own starts in the constructor: each worker starts on its first request.
//
// The files of this class: corvalinth.cpp (construction, teardown, guards), audio_callback.cpp and
// audio_reset.cpp (the audio thread and the audio configuration), idle_loop.cpp (the idle loop and the
// readouts), notices.cpp (notices, progress line, deferred action, cancel), capture_flow.cpp (the
// capture commands, the intake of a finished capture and the reset of the session), analysis_flow.cpp
// (analysis and the editing parameters), render_flow.cpp (every edit's render and its installation),
// offline_render.cpp (the bounce waiting for its render), audition_flow.cpp (one note heard while it is
// dragged), edit_commands.cpp (undo, redo, split, merge and the macros), daw_restore.cpp (the host state:
// the published snapshot, save and restore), file_job_flow.cpp (the file job on its thread, its queue and
// its notices), export_commands.cpp (the Export button's menu and save dialogs), shell_services.cpp
// (diagnostics, the update check and the preferences the editor reaches).
//
// Stamps: a background result is used only while the stamps it was requested with still match
// (flow_stamps.h). The document revision that renders are keyed on is the session's edit count, which
// every edit, undo and redo raises.

#include "engine/analysis/analysis_worker.h"
#include "engine/audio/peak_cache.h"
#include "engine/model/edit_session.h"
#include "engine/playback/audition_voice.h"
#include "engine/playback/host_synced_player.h"
#include "engine/playback/transfer_capture.h"
#include "engine/render/note_audition_worker.h"
#include "engine/render/render_types.h"
#include "engine/render/render_worker.h"
#include "framework/graphics/popup_menu.h"
#include "framework/plugin.h"
#include "plugin/audio_config_seqlock.h"
#include "plugin/capture_memory.h"
#include "plugin/corvalinth_params.h"
#include "plugin/dawstate_reader.h"
#include "plugin/dawstate_snapshot.h"
#include "plugin/edit_macros.h"
#include "plugin/editor_controls.h"
#include "plugin/editor_hosting.h"
#include "plugin/editor_viewport.h"
#include "plugin/file_job.h"
#include "plugin/flow_stamps.h"
#include "plugin/gain_automation.h"
#include "plugin/host_callback_fault_latch.h"
#include "plugin/prefs.h"
#include "plugin/update_status.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

class Corvalinth : public iplug::Plugin {
public:
    // Who owns the progress line; Any clears whatever is shown.
    enum class ProgressOwner : int { None = 0, Deferred = 1, FileJob = 2, Analysis = 3, Render = 4, Any = 5 };

    // The steps of OnIdleImpl, in their order. The order is semantic: a pending restore is installed
    // before the capture is polled, the audio reset before the parameters, the retired nodes are freed
    // before the workers hand over new ones, and the readouts show the state after every step.
    enum class IdleStep : int {
        SurfaceFault,
        ApplyPendingRestore,
        AbortCaptureIfDeactivated,
        PollTransfer,
        ApplyPendingAudioReset,
        ApplyPendingEditingParams,
        AbortCaptureWithoutPosition,
        FreeRetiredNodes,
        PollFileJob,
        PollTransferAgain,
        PollWorkers,
        RunDeferredAction,
        PollUpdateCheck,
        RefreshReadouts,
        RefreshProgressLine,
    };
    static constexpr std::array<IdleStep, 15> kIdleOrder{
        IdleStep::SurfaceFault,
        IdleStep::ApplyPendingRestore,
        IdleStep::AbortCaptureIfDeactivated,
        IdleStep::PollTransfer,
        IdleStep::ApplyPendingAudioReset,
        IdleStep::ApplyPendingEditingParams,
        IdleStep::AbortCaptureWithoutPosition,
        IdleStep::FreeRetiredNodes,
        IdleStep::PollFileJob,
        IdleStep::PollTransferAgain,
        IdleStep::PollWorkers,
        IdleStep::RunDeferredAction,
        IdleStep::PollUpdateCheck,
        IdleStep::RefreshReadouts,
        IdleStep::RefreshProgressLine,
    };

    using GainAutomationEvent = cv::GainAutomationEvent;
    using FileJobKind = cv::FileJobKind;
    using FileJobResult = cv::FileJobResult;
    using PendingFileJob = cv::PendingFileJob;

    // What the constructor takes from outside besides the framework's instance information. The
    // defaults are the process-wide preferences, the real analyses and the HTTPS fetch that trusts the
    // system's certificate store; tests and tools pass their own.
    struct Services {
        cv::Prefs* prefs = nullptr;                  // null: cv::Prefs::shared(); outlives the object
        np::AnalysisWorker::Job analysisJob;         // empty: the Melodic and Percussive analyses
        np::NoteAuditionWorker::Synth auditionSynth; // empty: the vocoder's audition tone
        np::RenderWorker::Render render;             // empty: the document render
        std::optional<cv::UpdateFetch> update;       // empty: cv::fetchHttpsText
        // Builds the waveform's peaks of the source audio on the main thread; may throw std::bad_alloc.
        std::function<void(np::PeakCache&, const np::AudioBuffer&)> buildPeaks; // empty: PeakCache::build
    };

    static constexpr const char* kNoPositionMessage =
        "Couldn't start capture because the DAW did not provide its playback position.";
    static constexpr const char* kDefaultDeferredText = "Finishing current background work";
    // The host's block size clamped to this range is the internal block the audio thread works in.
    static constexpr int kMinInternalBlock = 64;
    static constexpr int kMaxInternalBlock = 65536;
    static constexpr std::int64_t kProgressDelayNs = 450'000'000;
    // A finished capture shorter than this is dropped with a warning.
    static constexpr double kMinCaptureSeconds = 0.1;

    explicit Corvalinth(const iplug::InstanceInfo& info);
    Corvalinth(const iplug::InstanceInfo& info, Services services);
    // Cancels and joins the file jobs first, then tears the members down in reverse order of
    // construction, each worker cancelling its work and joining its thread.
    ~Corvalinth() override;

    // Framework entry points (guarded ones run their ...Impl inside the fault guard).
    void OnParentWindowResize(int width, int height) override;
    void OnUIOpen() override;
    // Saves the canvas's view for the session and lets the editor's controls go; a failure is recorded
    // in the fault latch.
    void OnUIClose() override;
    // Proposes the window size of the 1280 x 816 design at the scale w x h allows (0.7..1.5); true when
    // w x h was that size already.
    bool ConstrainEditorResize(int& width, int& height) const override;
    void OnParamChange(int paramIdx, iplug::EParamSource source, int sampleOffset) override;
    void OnParamChange(int paramIdx) override;
    bool SerializeState(iplug::IByteChunk& chunk) const override;
    void OnRestoreStateBegin() override;
    // Decodes a host state on the calling host thread and hands it to the idle loop; -1 when refused.
    // Nothing thrown inside reaches the host: it is recorded in the fault latch and refuses the state.
    int UnserializeState(const iplug::IByteChunk& chunk, int startPos) override;
    void OnIdle() override;
    void ProcessBlock(double** inputs, double** outputs, int nFrames) override;
    void OnReset() override;
    void OnActivate(bool active) override;

    // Notices on the notice line (tag 17): nothing for a null or empty text, while the editor is closed
    // or without the line. Status and success stay 4 s, a warning 8 s, an error until dismissed.
    void SetStatus(const char* text);
    void SetSuccess(const char* text);
    void SetWarning(const char* text);
    void SetError(const char* text);
    // The progress line: never covers an error; parks another notice until the progress ends.
    void SetProgressStatus(const char* text, float fraction, bool cancellable, ProgressOwner owner);
    // Clears the progress line when owner is Any or the current owner.
    void ClearProgressStatus(ProgressOwner owner);
    ProgressOwner CurrentProgressOwner() const noexcept { return progressOwner_; }

    // Shows a latched fault once, as a sticky error; retried on later ticks while it cannot be shown.
    void SurfaceHostCallbackFailure();

    // True when the analysis, render and note-audition workers are all idle.
    bool ReplacementWorkersQuiescent() const;
    // Runs action now when the workers are idle; otherwise cancels them and runs it on the first idle
    // tick after they are (the progress line shows text, default "Finishing current background work").
    void RunAfterReplacementWorkersQuiesce(std::function<void()> action, const char* text);
    // The cancel action (Escape, the progress line's "Cancel"); the first match wins.
    void CancelBackgroundWork();
    // Whether Escape has work to cancel: a deferred action waits, a file job runs or the analysis is busy
    // (a render alone is left to finish).
    bool BackgroundWorkCancellable() const;

    // Original: while on, the player passes the input through instead of the region.
    void ToggleCompare();
    bool CompareOn() const noexcept { return player_.compare(); }

    // The playhead in document frames: the last host position relative to the capture anchor.
    std::int64_t CurrentDocPlayhead() const;

    // The session every edit goes through (main thread).
    np::EditSession& Session() noexcept { return session_; }
    const np::EditSession& Session() const noexcept { return session_; }

    // --- Capture (main thread) -------------------------------------------------------------------
    // The Capture button and its shortcut: ends an active capture (what it recorded is analysed like any
    // finished capture); otherwise arms at once when nothing would be lost, else asks "Replace capture?".
    void ToggleTransfer();
    // Arms the recorder for a capture that will replace the session, within the memory the session
    // leaves; refuses with a notice while audio is not configured or a file job runs, and waits for busy
    // workers first (the arm is dropped with a warning if the session changed meanwhile).
    void ArmTransfer();
    // The Clear button: asks "Clear capture?", then removes the capture and its edits.
    void ClearCapture();
    // A document exists and its notes changed since it was analysed or restored.
    bool HasUnsavedEdits() const;
    // No settings recorded, or Key, Scale, A4, Tempo and Algorithm all equal the recorded ones.
    bool MetaMatchesSaved() const;
    // The session holds source audio and its notes or settings changed since it was analysed or
    // restored.
    bool ProjectDirty() const;
    np::SessionMeta CurrentSessionMeta() const;
    // (resident state bytes, audio working-set bytes) as every replacement of the session counts them.
    cv::ResidentMemory CurrentResidentMemory() const;
    // The capture anchor on the host timeline at the engine rate, rounded; false when either rate is not
    // within 8000..384000 Hz or the result leaves the 64-bit range.
    bool HostAnchorAtEngineRate(std::int64_t& out) const;
    // Truncating conversions for display and editing: trunc(frame x engine rate / source rate) and back.
    std::int64_t DocToEngine(std::int64_t frame) const;
    std::int64_t EngineToDoc(std::int64_t frame) const;
    double SourceSampleRate() const noexcept { return sourceRate_; }
    const std::string& FileLabel() const noexcept { return fileLabel_; }

    // --- Analysis, render and audition (main thread) ---------------------------------------------
    // Requests an analysis of the source audio with the Algorithm parameter; true when requested.
    bool StartAnalysis();
    // After every successful edit: silences the region rendered before it, publishes the state once the
    // gesture has ended, and requests the render of the new revision at once.
    void OnDocumentEdited();
    // The live audition of a note whose pitch is being dragged.
    void StartLiveAudition(std::uint32_t noteId);
    void UpdateLiveAudition(std::uint32_t noteId);
    void StopLiveAudition();
    bool AnalysisBusy() const;
    bool RenderBusy() const;

    // --- Edit commands (main thread); each turns an exception into one user-facing failure ---------
    void Undo();
    void Redo();
    void SplitAtPlayhead();
    void ToggleSplitMode();
    void MergeSelection();
    // The canvas selection in ascending id order, or else every note in document order.
    std::vector<std::uint32_t> MacroTargets();
    void ApplyPitchMacro();
    void ApplyTimeMacro();
    void ApplyUnisonMacro();
    // Publishes what an edit that failed half-way left, then shows the failure.
    void ReportUiEditFailure(bool documentChanged);
    // The macro settings, set from the inspector.
    cv::MacroSettings& Macros() noexcept { return macros_; }

    // --- Editor ------------------------------------------------------------------------------------
    // Rebuilds the waveform cache when the source audio changed or its last build failed; fit: shows
    // the whole document.
    void RefreshEditor(bool fit);
    // The peaks of the session's source audio (null without, or when their build failed for memory);
    // built first when the source changed. Asked at every frame tick: a failed build is not tried again
    // until the source changes or the plug-in asks for a redraw.
    std::shared_ptr<const np::PeakCache> WaveformCache();
    // Whether a capture is armed or recording.
    bool CaptureActive() const noexcept { return capture_.isActive(); }
    // --- File jobs and exports (main thread) ---------------------------------------------------------
    // Runs body on the file-job thread and returns its generation. While a job runs, that job is
    // cancelled and this one waits (replacing any job waiting before); it starts once the cancelled one
    // has reported back. Only the result of the latest generation is ever shown.
    std::uint64_t StartFileJob(FileJobKind kind, std::function<FileJobResult()> body);
    bool FileJobRunning() const noexcept { return fileJob_.running; }
    // "Wait for " + the progress text of the waiting job (else the running one), its first letter in
    // lower case, + " to finish.".
    std::string FileJobWaitText() const;
    // While a file job runs, warns with its wait text and returns true: what would start now must wait.
    bool WarnWhileFileJobRuns();
    // The Export button: the menu of the three WAV depths and "MIDI notes (.mid)" at the button, then
    // the save dialog of the choice; refusals are warnings.
    void PromptExportFile();

    // --- What the editor's overlays reach (main thread) ----------------------------------------------
    // Puts the diagnostics report on the clipboard; false while the editor is closed or when the
    // clipboard refused it.
    bool CopyDiagnostics();
    // "Check for updates" (userInitiated true from the software-updates page). No check starts by itself.
    void CheckForUpdates(bool userInitiated);
    // "Up to date" and "failed" go back to nothing to show; an available update stays.
    void DismissTransientUpdateStatus();
    cv::UpdateStatusWord UpdateStatus() const noexcept { return updates_.statusWord(); }
    const cv::UpdateCheckResult& LastUpdateResult() const noexcept { return updates_.lastResult(); }
    // The preferences store this object reads and writes (the process-wide one unless the services gave
    // another); it outlives the object.
    cv::Prefs& Preferences() noexcept { return *prefs_; }
    // The "Update checks" preference as this object knows it: read at construction, changed by the
    // preferences overlay after it saved the choice.
    bool UpdateChecksEnabled() const noexcept { return updateChecksEnabled_; }
    void SetUpdateChecksEnabled(bool enabled) noexcept { updateChecksEnabled_ = enabled; }

    double EngineSampleRate() const noexcept { return engineRate_.load(std::memory_order_relaxed); }
    std::uint64_t PlaybackGeneration() const noexcept { return playbackGeneration_.load(); }
    std::uint64_t AutomationOverflows() const noexcept { return gainAutomation_.overflows(); }

protected:
    // Test and editor seams.
    // The open editor's controls, or null while no editor is open (GetUI() null) or its controls are
    // not attached.
    virtual cv::EditorControls* Controls();
    // Steady clock in nanoseconds, for the progress line's 450 ms rule.
    virtual std::int64_t SteadyNowNs() const;
    // One step of the idle loop.
    virtual void RunIdleStep(IdleStep step);

    // Guarded bodies.
    virtual void ProcessBlockImpl(double** inputs, double** outputs, int nFrames);
    virtual void OnResetImpl();
    virtual void OnIdleImpl();
    virtual void OnUIOpenImpl();
    virtual void OnParentWindowResizeImpl(int width, int height);
    virtual bool SerializeStateImpl(iplug::IByteChunk& chunk) const;
    virtual void OnRestoreStateBeginImpl();
    virtual int UnserializeStateImpl(const iplug::IByteChunk& chunk, int startPos);
    // Reads a host state chunk into a snapshot (daw_restore.cpp); on the restoring host thread.
    virtual cv::dawstate::ReadResult ReadDawState(std::span<const std::uint8_t> bytes);

private:
    friend struct CorvalinthProbe; // white-box access for the tests

    // The offline (bounce) render state, under offlineMutex_.
    struct OfflineRenderState {
        std::uint64_t key = 0;               // document revision playback must show; 0 nothing
        std::uint64_t requestGeneration = 0; // playback generation of the last request
        std::uint64_t requestSessionGeneration = 0;
        std::int64_t anchor = 0; // at the engine rate
        bool anchorValid = false;
        std::optional<std::pair<std::uint64_t, std::uint64_t>> installed; // (key, generation)
        std::optional<std::pair<std::uint64_t, std::uint64_t>> failed;
        std::string failedReason; // the render's own message when `failed` is set by its error; else empty
        // The document handed to the render worker for key and its anchor in document frames: what the
        // offline path renders again when its request was cancelled, superseded or made stale.
        std::shared_ptr<const np::Document> document;
        std::int64_t documentAnchor = 0;
    };
    enum class OfflineInstall : std::uint8_t { Nothing = 0, Installed = 1, Unavailable = 2 };

    void ShowNotice(const char* text, cv::NoticeKind kind, int durationMs);
    // Shows the error notice kept while the editor was closed, once the notice line exists.
    void ShowPendingError();

    // Editor hosting (editor_hosting.cpp): the make-graphics and layout hooks, and the saved view.
    void InstallEditorHooks();
    // A new document is fitted at the next open instead of restoring the view saved before.
    void ForgetEditorViewport() noexcept;
    void SetGainTargetFromVolume() noexcept;
    void SendParameterToHost(int paramIdx, double value);

    // The audio thread (audio_callback.cpp); the offline path in offline_render.cpp.
    OfflineInstall InstallRenderForOfflineProcessing();
    // Offline path, offline mutex held: requests the render of the offline document for generation.
    bool RequestOfflineRender(std::uint64_t generation);
    struct HostBlock; // one host block as the sub-blocks see it
    // Takes a reset the host made since the last block (on its own thread, perhaps while that block
    // ran) into the audio thread's own state, at a block boundary.
    void TakeAudioConfig() noexcept;
    void ProcessSubBlock(HostBlock& block, int offset, int n) noexcept;
    void CountFramesWithoutPosition(const HostBlock& block, bool positionValid, int n) noexcept;
    void FeedCapture(const HostBlock& block, int n, std::int64_t subPos, bool positionValid) noexcept;

    // The audio configuration on the main thread (audio_reset.cpp).
    void ApplyPendingAudioReset();
    void CancelCapture() noexcept;

    // The idle loop (idle_loop.cpp).
    void AbortCaptureIfDeactivated();
    void AbortCaptureWithoutPosition();
    void FreeRetiredNodes();
    void PollWorkers();
    void RunDeferredActionWhenQuiescent();
    void PollUpdateCheck();
    void RefreshReadouts();
    void RefreshProgressLine();
    cv::EditorReadouts ComputeReadouts(std::optional<std::size_t> selectedNotes) const;
    bool DocumentEmpty() const;
    bool DeferredActionWaits() const noexcept { return static_cast<bool>(deferredAction_); }
    bool AuditionBusy() const;

    void ApplyKeyScaleParams();

    // The capture flow (capture_flow.cpp).
    void PollTransfer();
    void ClearCaptureStatistics();
    // Takes the finished capture in as a fresh session and starts its analysis.
    void InstallCapture(std::unique_ptr<np::TransferCapture::Capture> capture, std::int64_t armedFrames);
    // Resets everything the session owns. While restoring_ is set it keeps the session and playback
    // generations, the offline render state, the region and the largest render size, and publishes
    // no empty snapshot: the restore has set those up already.
    void ClearDocument(bool);
    void ResetFileReadout();
    // Builds the waveform cache when the source audio changed; a failed build leaves none.
    void RefreshWaveformCache();
    // Makes the next RefreshWaveformCache try a build that failed again.
    void RetryFailedWaveformCache() noexcept;
    // The file readout's text for the source in place: shown now with the editor open, and again each
    // time the editor opens.
    void ShowFileReadout(const char* text);

    // The analysis flow (analysis_flow.cpp).
    void PollAnalysis();
    void ApplyPendingEditingParams();
    void ApplyAlgorithmChange(int algorithm);
    // Puts the Algorithm parameter back to algorithm, taken as applied, and tells the host.
    void RevertAlgorithmParameter(int algorithm);
    // Plays the captured audio itself in place, when it is at the engine rate; at another rate it
    // leaves the render revisions unequal, so a render at the engine rate replaces it.
    void InstallSourceAsRegion();

    // The render flow (render_flow.cpp).
    void PollRenderFlow();
    // Stops the render; the revision it was rendering is requested again on the next tick.
    void CancelRender();
    // Offline mutex held: hands a copy of the document to the render worker for its revision.
    void RequestRender();
    // Offline mutex held: installs a current render result, or reports why it cannot be played.
    void InstallRenderResult(np::RenderWorker::Result result);
    // Either path: a rendered buffer becomes the region at anchor for generation (engine frames).
    void InstallRenderedRegion(std::unique_ptr<np::AudioBuffer> audio, std::int64_t anchor,
                               std::uint64_t generation);
    // What the next render must leave room for: the render the player holds now (0 while the source
    // itself or nothing plays).
    std::uint64_t RenderReserveBytes() const noexcept;

    // The audition flow (audition_flow.cpp).
    void PollAuditionFlow();

    // Edit commands (edit_commands.cpp): runs command inside the failure boundary.
    template <class Command>
    void RunEditCommand(Command&& command);

    // The host state (daw_restore.cpp): the snapshot a host save writes, published by the main thread
    // after every change the host must be able to save, and the restore handed to the idle loop.
    struct PendingDawRestore {
        cv::dawstate::Values values{};
        std::shared_ptr<const cv::dawstate::Snapshot> snapshot; // null: the parameters only
        std::uint64_t sessionGeneration = 0;
        std::uint64_t playbackGeneration = 0;
        bool decoding = false; // a host thread is decoding its chunk: the idle loop leaves it in place
        bool refused = false;  // its chunk was refused: the idle loop tells the user
    };
    void ApplyPendingDawRestore();
    void InstallDawRestore(const PendingDawRestore& pending);
    // A bounce has installed, or is making, the render of the restored session.
    bool RestoredRenderBounced();
    void PublishDawStateSnapshot();
    void PublishEmptyDawStateSnapshot();
    // Publishes a main-thread snapshot unless a restore is pending, whose own snapshot must stay.
    void PublishUnlessRestoring(cv::dawstate::Snapshot snapshot);
    // The values a save stores: the Algorithm of an analysed session is that of its analysis.
    cv::dawstate::Values CurrentDawParameterValues() const;
    // Marks the pending restore of sessionGeneration as being decoded; false when there is none.
    bool ClaimPendingRestore(std::uint64_t& sessionGeneration, std::uint64_t& playbackGeneration);
    void EndRestoreDecode(std::uint64_t sessionGeneration, bool refused) noexcept;

    // The file job (file_job_flow.cpp).
    void PollFileJob();
    void LaunchFileJob(PendingFileJob job);
    void LaunchPendingFileJob();
    // Job thread: runs the body, marks a result the cancel flag stopped, stores it for PollFileJob.
    void RunFileJob(const PendingFileJob& job);
    // The session is going away: a running job is cancelled, a waiting one dropped, and the generation
    // raised so the running job's result comes back stale.
    void CancelFileJobsForClear();

    // The export commands (export_commands.cpp).
    void OnExportMenuChoice(int index);
    void PromptWavExport();
    void PromptMidiExport();
    void StartWavExport(const std::string& chosenName);
    void StartMidiExport(const std::string& chosenName);
    // True, after a warning with the reason, when chosenName names no file to write (a blank name, a
    // folder) once the export adds extension; nothing starts.
    bool RefuseExportDestination(const std::string& chosenName, const char* extension);
    // The engines the render worker recorded, which the export render starts from.
    np::RenderHints ExportRenderHints() const;

    // 1. The framework base (above).
    // 2. The transport player of the editor's time readout has no processing of its own in this
    //    system; its position is 0 (TransportSeconds).
    static constexpr double TransportSeconds() noexcept { return 0.0; }
    // 3. The player and, audio thread only, whether the previous host block had a position and which
    //    (forgotten when the audio thread takes a reset).
    np::HostSyncedPlayer player_;
    bool previousHadPosition_ = false;
    std::int64_t previousPosition_ = 0;
    // 4. The capture recorder; its state word starts idle.
    np::TransferCapture capture_;
    // 5. The edit session: no document, key C, chromatic, A4 440 Hz.
    np::EditSession session_;
    // 6. The render worker.
    np::RenderWorker renderWorker_;
    // 7. The analysis worker.
    np::AnalysisWorker analysis_;
    // 8. The host-state snapshot store and the pending restore (under restoreMutex_, which guards it
    //    alone: only the store's own leaf lock is ever taken while it is held).
    cv::dawstate::SnapshotStore dawState_;
    std::mutex restoreMutex_;
    std::optional<PendingDawRestore> pendingRestore_;
    std::atomic<bool> restorePending_{false};
    mutable std::atomic<bool> saveRefused_{false}; // a host save was refused: the idle loop says so
    // 9. The audition voice.
    np::AuditionVoice voice_;
    // 10. The note-audition worker and the live audition (main thread).
    np::NoteAuditionWorker auditionWorker_;
    std::uint32_t auditionedNote_ = 0; // 0 = none
    std::uint64_t auditionSequence_ = 0;
    // 11. Session generation (raised whenever the session is replaced; any thread), the source audio.
    std::atomic<std::uint64_t> sessionGeneration_{0};
    std::shared_ptr<const np::AudioBuffer> sourceAudio_;
    double sourceRate_ = 48000.0;
    int exportDepthIdx_ = 1;
    // 12. Capture and playback bookkeeping.
    std::int64_t captureAnchor_ = 0; // host timeline, document frames
    std::string fileLabel_;
    std::string fileReadoutText_;                   // empty: "No file loaded"
    std::atomic<std::int64_t> lastHostPosition_{0}; // last sub-block's, published by the audio thread
    std::atomic<bool> lastTransportRunning_{false};
    std::uint64_t requestedRenderRevision_ = 0;
    std::uint64_t completedRenderRevision_ = 0;
    // Main thread: the playback generation a region was last installed or asked for under; the render
    // flow renders the document again for any later one nothing else answers.
    std::uint64_t consumedPlaybackGeneration_ = 1;
    cv::AudioConfigSeqLock audioConfig_;
    std::uint64_t appliedConfigSequence_ = 0; // main thread
    // What the capture was last prepared with; read by the reset thread to carry feeding across a reset.
    std::atomic<double> capturePreparedRate_{0.0};
    std::atomic<std::uint32_t> capturePreparedChannels_{0};
    // The configuration sequence the capture is fed under (0 while it is being re-prepared). The audio
    // thread and the idle side meet here with sequentially consistent operations on both sides.
    std::atomic<std::uint64_t> capturePreparedSequence_{0};
    std::atomic<int> inCapture_{0};
    std::atomic<bool> noPositionFlag_{false};
    std::atomic<bool> deactivatedFlag_{false};
    std::atomic<std::int64_t> noPositionFrames_{0};
    std::uint64_t cleanRevision_ = 0;          // the content revision at which the session is unchanged
    std::optional<np::SessionMeta> savedMeta_; // session settings recorded with the analysis or restore
    std::int32_t appliedAlgorithm_ = 0;
    std::int32_t lastAnalysedAlgorithm_ = 0;
    // Main thread: what the armed capture must still match when it is taken; empty once it was
    // aborted or no capture is armed.
    std::optional<cv::CaptureStamps> captureStats_;
    std::uint64_t parameterChanges_ = 0; // applied Key, Scale, A4, Tempo and Algorithm changes
    // Main thread: how the installed capture ended, for the notice after its analysis.
    bool captureMemoryLimited_ = false;
    bool captureTimelineJumped_ = false;
    std::int64_t captureArmedFrames_ = 0;
    std::optional<std::uint64_t> severalVoicesWarned_; // the session generation last warned about
    // Main thread: the waveform cache, the source it was built (or failed to build) from and its size
    // estimate.
    std::function<void(np::PeakCache&, const np::AudioBuffer&)> buildPeaks_;
    std::shared_ptr<const np::PeakCache> peakCache_; // null with a source: its build failed
    std::shared_ptr<const np::AudioBuffer> peakCacheSource_;
    std::uint64_t peakCacheBytes_ = 0;
    // Main thread: true only while a restore clears the old session (ClearDocument keeps what the
    // restore has already set up).
    bool restoring_ = false;
    cv::MacroSettings macros_;
    // 13. File jobs, progress line and deferred action (main thread).
    cv::FileJobSlot fileJob_;
    std::mutex fileJobResultMutex_;
    std::optional<cv::FileJobResult> fileJobResult_;
    std::optional<cv::PendingFileJob> queuedFileJob_;
    std::uint64_t fileJobGenerations_ = 0;      // the counter; only grows
    std::uint64_t latestFileJobGeneration_ = 0; // the one job whose result may be shown
    iplug::igraphics::IPopupMenu exportMenu_;   // the Export button's menu (the editor shows it)
    std::string progressText_;
    std::int64_t progressStartNs_ = 0;
    ProgressOwner progressOwner_ = ProgressOwner::None;
    std::function<void()> deferredAction_;
    std::string deferredText_ = kDefaultDeferredText;
    std::int64_t deferredStartNs_ = 0;
    std::int64_t analysisStartNs_ = 0;
    bool analysisCancelling_ = false;
    bool renderCancelling_ = false;
    cv::FileJobSlot secondFileJob_; // never started
    // 14. Parameters other than Volume waiting for the idle loop: bit i for parameter i.
    std::atomic<std::uint32_t> pendingParams_{0};
    // 15. The update check, and the plug-in's copy of the "Update checks" preference.
    cv::UpdateCheckFlow updates_;
    bool updateChecksEnabled_ = true;
    // 16. The canvas's view saved when the editor closed, the session generation it belongs to, whether
    //     one is saved; the window size the host asked for while the editor was closed (0 x 0 for none).
    EditorViewportState savedViewport_;
    std::uint64_t savedViewportGeneration_ = 0;
    bool viewportSaved_ = false;
    cv::EditorSize lastEditorSize_;
    // 17. Volume: the automation ring and newest value (any thread), the slewed gain (audio thread).
    cv::GainAutomation gainAutomation_;
    cv::GainSlew gain_;
    // 18. The fault latch.
    cv::HostCallbackFaultLatch latch_;
    // 19. Engine rate (48000 until the first reset), playback generation, offline render state.
    std::atomic<double> engineRate_{48000.0};
    std::atomic<std::uint64_t> playbackGeneration_{1};
    std::mutex offlineMutex_;
    OfflineRenderState offline_;
    std::atomic<std::uint64_t> largestRenderBytes_{0}; // written by the idle loop and the offline path
    // Bytes of the render the player holds as its region (0 for the source itself or none); either path.
    std::atomic<std::uint64_t> heldRenderBytes_{0};
    // The id of the render request the offline path awaits; written by the render worker's request.
    std::atomic<std::uint64_t> offlineRequestId_{0};
    // 20. Audio thread only: the configuration sequence it last took (0: none yet, so it writes silence),
    //     the internal block from it, and its scratch, input and output of two planes each. The scratch
    //     is sized once, before the first reset, for the largest internal block: a reset while a block
    //     runs frees nothing the audio thread uses.
    std::uint64_t blockConfigSequence_ = 0;
    int internalBlock_ = 0;
    std::vector<float> scratchIn_ = std::vector<float>(2 * static_cast<std::size_t>(kMaxInternalBlock));
    std::vector<float> scratchOut_ = std::vector<float>(2 * static_cast<std::size_t>(kMaxInternalBlock));

    // The preferences store (main thread; the store locks itself).
    cv::Prefs* prefs_ = nullptr;

    // The open editor's controls as the layout returned them; null while the editor is closed.
    std::unique_ptr<cv::EditorControls> ownedEditorControls_;
    cv::EditorControls* editorControls_ = nullptr;
    // The last error notice raised while the editor was closed, shown when it opens; empty for none.
    std::string pendingError_;

    static_assert(std::atomic<double>::is_always_lock_free);
    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
};
