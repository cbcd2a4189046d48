// The host state: the snapshot the main thread publishes after every change the host must be able to
// save, the save that writes it from any host thread, and the two-step restore (the hook, then the
// decode on the host's thread) that the idle loop installs on the main thread.
//
// A restore's stamps: the hook raises the session and playback generations; every later step gives up
// when a newer restore or a new session has raised them again. While a restore is pending, its snapshot
// is the one a save must write, so main-thread publishes of the old session are ignored until it is
// installed, and the installed session is published again.

#include "plugin/Corvalinth.h"
#include "plugin/dawstate_writer.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// The document revision of a freshly installed session: a restored one is rendered under it.
constexpr std::uint64_t kRestoredRevision = 1;
constexpr const char* kRestoredLabel = "Restored capture";
constexpr const char* kRestoreFailed =
    "Couldn't restore the saved Corvalinth state. The previous audio was cleared.";
constexpr const char* kSaveFailed =
    "Couldn't save the Corvalinth state with the DAW project. The capture and its edits are not in it.";

bool hasAnalysis(const np::Document& document) {
    return document.audio != nullptr && (!document.track.frames.empty() || !document.notes.empty());
}

} // namespace

cv::dawstate::Values Corvalinth::CurrentDawParameterValues() const {
    return cv::dawstate::valuesToSave(cv::dawstate::parameterValues(*this), hasAnalysis(session_.document()),
                                      lastAnalysedAlgorithm_);
}

bool Corvalinth::ProjectDirty() const {
    return session_.document().audio != nullptr && (HasUnsavedEdits() || !MetaMatchesSaved());
}

void Corvalinth::PublishDawStateSnapshot() {
    const cv::dawstate::Values values = CurrentDawParameterValues();
    if (session_.document().audio == nullptr) {
        PublishUnlessRestoring(cv::dawstate::valuesOnlySnapshot(values));
        return;
    }
    PublishUnlessRestoring(cv::dawstate::sessionSnapshot(values, session_.document(), captureAnchor_));
}

void Corvalinth::PublishEmptyDawStateSnapshot() {
    PublishUnlessRestoring(cv::dawstate::valuesOnlySnapshot(CurrentDawParameterValues()));
}

void Corvalinth::PublishUnlessRestoring(cv::dawstate::Snapshot snapshot) {
    snapshot.generation = dawState_.raiseGeneration();
    auto shared = std::make_shared<const cv::dawstate::Snapshot>(std::move(snapshot));
    // Held so that the snapshot replaced is freed here, after the restore mutex is released.
    std::shared_ptr<const cv::dawstate::Snapshot> previous = dawState_.load();
    const std::lock_guard lock(restoreMutex_);
    if (!pendingRestore_)
        dawState_.publish(std::move(shared));
}

void Corvalinth::SetGainTargetFromVolume() noexcept {
    gainAutomation_.setDirect(cv::gainFromVolume(GetParam(cv::kParamVolume)->Value()));
}

// --- Save (any host thread) ------------------------------------------------------------------------

bool Corvalinth::SerializeStateImpl(iplug::IByteChunk& chunk) const {
    const std::shared_ptr<const cv::dawstate::Snapshot> published = dawState_.load();
    const bool written =
        cv::dawstate::writeStateChunk(chunk, published.get(), cv::dawstate::parameterValues(*this));
    if (!written)
        saveRefused_.store(true);
    return written;
}

// --- Restore (any host thread, then the idle loop) ---------------------------------------------------

void Corvalinth::OnRestoreStateBeginImpl() {
    const std::shared_ptr<const cv::dawstate::Snapshot> published = dawState_.load();
    // What a save would write now: kept as they are should the chunk be refused.
    const cv::dawstate::Values live = cv::dawstate::parameterValues(*this);
    cv::dawstate::Values values = published ? published->values : live;
    values[cv::dawstate::kValueVolume] = live[cv::dawstate::kValueVolume];
    const std::uint64_t session = sessionGeneration_.fetch_add(1) + 1;
    std::uint64_t playback = 0;
    {
        // An analysis still running for the old session is dropped by its stamps.
        const std::lock_guard lock(offlineMutex_);
        playback = playbackGeneration_.fetch_add(1) + 1;
        player_.clearRegion();
        renderWorker_.cancel();
        offline_ = OfflineRenderState{};
        largestRenderBytes_.store(0);
        heldRenderBytes_.store(0);
    }
    std::shared_ptr<const cv::dawstate::Snapshot> valuesOnly;
    try {
        cv::dawstate::Snapshot snapshot = cv::dawstate::valuesOnlySnapshot(values);
        snapshot.generation = dawState_.raiseGeneration();
        valuesOnly = std::make_shared<const cv::dawstate::Snapshot>(std::move(snapshot));
    } catch (...) {
        // The previous snapshot stays published; the restore goes on.
    }
    {
        const std::lock_guard lock(restoreMutex_);
        pendingRestore_ = PendingDawRestore{values, nullptr, session, playback, false, false};
        if (valuesOnly)
            dawState_.publish(valuesOnly);
    }
    restorePending_.store(true);
}

bool Corvalinth::ClaimPendingRestore(std::uint64_t& sessionGeneration, std::uint64_t& playbackGeneration) {
    const std::lock_guard lock(restoreMutex_);
    if (!pendingRestore_)
        return false;
    // The idle loop must not take it out while its chunk is decoded, or the decode would find none.
    pendingRestore_->decoding = true;
    sessionGeneration = pendingRestore_->sessionGeneration;
    playbackGeneration = pendingRestore_->playbackGeneration;
    return true;
}

void Corvalinth::EndRestoreDecode(std::uint64_t sessionGeneration, bool refused) noexcept {
    try {
        const std::lock_guard lock(restoreMutex_);
        if (pendingRestore_ && pendingRestore_->sessionGeneration == sessionGeneration) {
            pendingRestore_->decoding = false;
            pendingRestore_->refused = pendingRestore_->refused || refused;
        }
    } catch (...) {
        // A mutex that cannot be locked leaves nothing to update.
    }
}

cv::dawstate::ReadResult Corvalinth::ReadDawState(std::span<const std::uint8_t> bytes) {
    return cv::dawstate::readStateChunk(bytes, *this);
}

int Corvalinth::UnserializeState(const iplug::IByteChunk& chunk, int startPos) {
    try {
        return UnserializeStateImpl(chunk, startPos);
    } catch (...) {
        // Out of memory decoding a large session, say: the host hears a refusal, never the exception.
        latch_.ReportHostCallbackFailure(cv::HostCallbackFaultLatch::State);
        return -1;
    }
}

int Corvalinth::UnserializeStateImpl(const iplug::IByteChunk& chunk, int startPos) {
    std::uint64_t session = 0;
    std::uint64_t playback = 0;
    if (!ClaimPendingRestore(session, playback)) {
        // No hook came first (a preset recall, a host without it), or the idle loop took its pending
        // restore already: begin here.
        try {
            OnRestoreStateBeginImpl();
        } catch (...) {
            latch_.ReportHostCallbackFailure(cv::HostCallbackFaultLatch::State);
        }
        if (!ClaimPendingRestore(session, playback))
            return -1;
    }
    // Until the decoded snapshot replaces it, the pending restore counts as refused on every way out.
    struct DecodeEnd {
        Corvalinth& plugin;
        std::uint64_t session;
        bool accepted = false;
        ~DecodeEnd() { plugin.EndRestoreDecode(session, !accepted); }
    } decodeEnd{*this, session};

    if (startPos < 0 || chunk.Size() < startPos ||
        static_cast<std::uint64_t>(chunk.Size()) > cv::dawstate::kMaxChunkBytes)
        return -1;
    const std::span<const std::uint8_t> bytes(chunk.GetData() + startPos,
                                              static_cast<std::size_t>(chunk.Size() - startPos));
    cv::dawstate::ReadResult read = ReadDawState(bytes);
    if (!read.snapshot)
        return -1;
    cv::dawstate::Snapshot& decoded = *read.snapshot;
    const cv::dawstate::Values values = decoded.values;
    decoded.generation = dawState_.raiseGeneration();
    if (sessionGeneration_.load() != session)
        return -1; // a newer restore began
    auto snapshot = std::make_shared<const cv::dawstate::Snapshot>(std::move(decoded));
    {
        const std::lock_guard lock(restoreMutex_);
        if (!pendingRestore_ || pendingRestore_->sessionGeneration != session)
            return -1;
        dawState_.publish(snapshot);
        *pendingRestore_ = PendingDawRestore{values, snapshot, session, playback, false, false};
        decodeEnd.accepted = true;
    }
    restorePending_.store(true);

    if (snapshot->hasDocument && hasAnalysis(snapshot->document)) {
        // A bounce before the idle loop installs the session renders it through the offline path, as
        // it renders any revision requested for an older playback generation.
        const std::lock_guard lock(offlineMutex_);
        if (sessionGeneration_.load() == session && playbackGeneration_.load() == playback) {
            offline_ = OfflineRenderState{};
            offline_.key = kRestoredRevision;
            offline_.requestSessionGeneration = session;
            offline_.document = std::shared_ptr<const np::Document>(snapshot, &snapshot->document);
            offline_.documentAnchor = snapshot->anchor;
        }
    }

    // The values fit their parameters already (the reader checked them).
    for (int i = 0; i < cv::kNumParams; ++i)
        GetParam(i)->Set(values[static_cast<std::size_t>(i)]);
    SetGainTargetFromVolume();
    return startPos + static_cast<int>(read.end);
}

bool Corvalinth::RestoredRenderBounced() {
    // A bounce holding the lock is rendering the restored session and installs its render itself.
    std::unique_lock lock(offlineMutex_, std::try_to_lock);
    return !lock.owns_lock() ||
           offline_.installed == cv::RenderPair{session_.editCount(), playbackGeneration_.load()};
}

void Corvalinth::ApplyPendingDawRestore() {
    if (saveRefused_.exchange(false))
        SetError(kSaveFailed);
    if (!restorePending_.exchange(false))
        return;
    std::optional<PendingDawRestore> pending;
    {
        const std::lock_guard lock(restoreMutex_);
        if (pendingRestore_ && pendingRestore_->decoding) {
            restorePending_.store(true); // taken on a later tick, once decoded
            return;
        }
        pending.swap(pendingRestore_);
    }
    if (!pending || pending->sessionGeneration != sessionGeneration_.load())
        return; // superseded by a newer restore or session
    try {
        InstallDawRestore(*pending);
    } catch (...) {
        try {
            restoring_ = true;
            ClearDocument(false);
            restoring_ = false;
            if (sessionGeneration_.load() == pending->sessionGeneration)
                PublishEmptyDawStateSnapshot();
            SetError(kRestoreFailed);
        } catch (...) {
            // Nothing more can be done for this restore.
        }
        restoring_ = false;
    }
}

void Corvalinth::InstallDawRestore(const PendingDawRestore& pending) {
    restoring_ = true;
    ClearDocument(false);
    restoring_ = false;
    if (sessionGeneration_.load() != pending.sessionGeneration)
        return;

    const cv::dawstate::Values& values = pending.values;
    for (int i = 0; i < cv::kNumParams; ++i)
        GetParam(i)->Set(values[static_cast<std::size_t>(i)]);
    SetGainTargetFromVolume();
    pendingParams_.store(0);
    appliedAlgorithm_ = lastAnalysedAlgorithm_ = GetParam(cv::kParamAlgorithm)->Int();
    ApplyKeyScaleParams();
    for (int i = 0; i < NParams(); ++i)
        SendParameterValueFromDelegate(i, std::clamp(GetParam(i)->GetNormalized(), 0.0, 1.0), true);

    const cv::dawstate::Snapshot* restored = pending.snapshot.get();
    if (restored == nullptr || !restored->hasDocument) {
        PublishEmptyDawStateSnapshot();
        RefreshEditor(true);
        if (pending.refused)
            SetError(kRestoreFailed);
        return;
    }

    np::Document document = restored->document;
    const bool needsAnalysis = !hasAnalysis(document);
    sourceAudio_ = document.audio;
    sourceRate_ = document.sampleRate;
    captureAnchor_ = restored->anchor;
    fileLabel_ = kRestoredLabel;
    session_.setDocument(std::move(document));
    ApplyKeyScaleParams();
    cleanRevision_ = session_.contentRevision();
    savedMeta_ = CurrentSessionMeta();
    if (needsAnalysis) {
        StartAnalysis(); // plays the captured audio in place and publishes the session
    } else {
        // Unequal to the document's revision: the render flow renders the restored edits, and the
        // captured audio itself plays in place until that render arrives.
        requestedRenderRevision_ = 0;
        completedRenderRevision_ = 0;
        if (!RestoredRenderBounced())
            InstallSourceAsRegion();
        PublishDawStateSnapshot();
        PollRenderFlow();
    }
    RefreshEditor(true);
    if (cv::EditorControls* controls = Controls()) {
        char details[64];
        std::snprintf(details, sizeof details, "  \xE2\x80\x94  %.1f kHz \xC2\xB7 %d ch",
                      sourceRate_ / 1000.0, sourceAudio_ != nullptr ? sourceAudio_->channels : 0);
        controls->ShowFileText((std::string(kRestoredLabel) + details).c_str());
    }
}
