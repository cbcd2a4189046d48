#pragma once

// White-box access to the plug-in's members for tests and benchmarks (the class names it a friend).

#include "plugin/Corvalinth.h"

#include <mutex>
#include <optional>

struct CorvalinthProbe {
    static np::TransferCapture& capture(Corvalinth& p) { return p.capture_; }
    static np::HostSyncedPlayer& player(Corvalinth& p) { return p.player_; }
    static np::AuditionVoice& voice(Corvalinth& p) { return p.voice_; }
    static np::AnalysisWorker& analysis(Corvalinth& p) { return p.analysis_; }
    static np::NoteAuditionWorker& auditionWorker(Corvalinth& p) { return p.auditionWorker_; }
    static cv::FileJobSlot& fileJob(Corvalinth& p) { return p.fileJob_; }
    static int exportDepth(const Corvalinth& p) { return p.exportDepthIdx_; }
    static const cv::HostCallbackFaultLatch& latch(const Corvalinth& p) { return p.latch_; }
    static bool deferredWaits(const Corvalinth& p) { return p.DeferredActionWaits(); }
    // No worker runs, has a request pending or holds a result the idle loop has not taken yet.
    static bool workersIdle(const Corvalinth& p) {
        return p.ReplacementWorkersQuiescent() && !p.analysis_.resultWaiting() &&
               !p.renderWorker_.resultWaiting() && !p.auditionWorker_.resultWaiting();
    }
    static void setOfflineKey(Corvalinth& p, std::uint64_t key) {
        std::lock_guard lock(p.offlineMutex_);
        p.offline_.key = key;
    }
    // Whether the bounce holds the offline lock (waiting for its render).
    static bool offlineLocked(Corvalinth& p) {
        std::unique_lock lock(p.offlineMutex_, std::try_to_lock);
        return !lock.owns_lock();
    }
    static void setCapture(Corvalinth& p, double sourceRate, std::int64_t anchor) {
        p.sourceRate_ = sourceRate;
        p.captureAnchor_ = anchor;
    }
    static void markAnalysisStart(Corvalinth& p) { p.analysisStartNs_ = p.SteadyNowNs(); }
    // A session replaced by one holding this audio (a capture or a restore would), its generation raised.
    static void replaceSource(Corvalinth& p, std::shared_ptr<const np::AudioBuffer> audio) {
        p.sourceAudio_ = std::move(audio);
        p.sessionGeneration_.fetch_add(1);
    }
    static cv::EditorReadouts readouts(const Corvalinth& p, std::optional<std::size_t> selected) {
        return p.ComputeReadouts(selected);
    }
    static const std::shared_ptr<const np::AudioBuffer>& source(const Corvalinth& p) {
        return p.sourceAudio_;
    }
    static std::int64_t anchor(const Corvalinth& p) { return p.captureAnchor_; }
    static std::uint64_t sessionGeneration(const Corvalinth& p) { return p.sessionGeneration_.load(); }
    static std::pair<std::uint64_t, std::uint64_t> renderRevisions(const Corvalinth& p) {
        return {p.requestedRenderRevision_, p.completedRenderRevision_};
    }
    static void setLargestRender(Corvalinth& p, std::uint64_t bytes) { p.largestRenderBytes_.store(bytes); }
    static void setWaveformCacheBytes(Corvalinth& p, std::uint64_t bytes) { p.peakCacheBytes_ = bytes; }
    static cv::dawstate::SnapshotStore& dawState(Corvalinth& p) { return p.dawState_; }
    // A main-thread publish of the live session, as every capture, analysis and edit makes.
    static void publishSession(Corvalinth& p) { p.PublishDawStateSnapshot(); }
};
