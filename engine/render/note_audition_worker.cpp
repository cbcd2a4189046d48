#include "engine/render/note_audition_worker.h"

#include "engine/audio/worker_thread.h"

#include <exception>

namespace np {

NoteAuditionWorker::NoteAuditionWorker() : NoteAuditionWorker(Synth{}) {}

NoteAuditionWorker::NoteAuditionWorker(Synth synth) : synth_(std::move(synth)) {
    if (!synth_)
        synth_ = [](const FrozenNote& frozen, const SynthRequest& request,
                    const std::function<bool()>& keepGoing) {
            return synthesizeAudition(frozen, request.tone, keepGoing);
        };
}

NoteAuditionWorker::~NoteAuditionWorker() {
    destroying_.store(true);
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void NoteAuditionWorker::requestFreeze(std::shared_ptr<const std::vector<float>> excerpt, double sampleRate,
                                       std::uint32_t noteId, std::uint64_t tag) {
    // The replaced request's excerpt is released after the lock.
    FreezeRequest replaced{std::move(excerpt), sampleRate, noteId, tag};
    {
        const std::lock_guard lock(mutex_);
        std::swap(freeze_, replaced);
        latest_ = Key{noteId, 0, tag};
        // A result never belongs to a previously frozen note.
        result_.reset();
        // Without a thread the request is withdrawn.
        freezePending_ = ensureThreadStartedLocked();
    }
    wake_.notify_all();
}

void NoteAuditionWorker::requestSynth(std::uint32_t noteId, double f0Hz, std::int64_t length,
                                      double outputRate, std::uint64_t serial, double formantRatio,
                                      std::uint64_t tag) {
    {
        const std::lock_guard lock(mutex_);
        synthRequest_ =
            SynthRequest{noteId, AuditionTone{f0Hz, length, outputRate, formantRatio}, serial, tag};
        latest_ = Key{noteId, serial, tag};
        if (result_ && !(Key{result_->noteId, result_->serial, result_->tag} == latest_))
            result_.reset();
        synthPending_ = ensureThreadStartedLocked();
    }
    wake_.notify_all();
}

std::optional<NoteAuditionWorker::Result> NoteAuditionWorker::takeResult() {
    const std::lock_guard lock(mutex_);
    std::optional<Result> taken = std::move(result_);
    result_.reset();
    return taken;
}

bool NoteAuditionWorker::resultWaiting() const {
    const std::lock_guard lock(mutex_);
    return result_.has_value();
}

bool NoteAuditionWorker::busy() const {
    const std::lock_guard lock(mutex_);
    return working_ || freezePending_ || synthPending_;
}

bool NoteAuditionWorker::ensureThreadStartedLocked() {
    return startThreadOnce(thread_, [this] { run(); });
}

void NoteAuditionWorker::analyze(const FreezeRequest& request) {
    frozen_ = FrozenNote{};
    try {
        const std::vector<float> none;
        frozen_ = freezeNoteExcerpt(request.excerpt ? *request.excerpt : none, request.sampleRate);
    } catch (const std::exception&) {
        // Not even the fallback could be kept: the note stays silent.
    }
    frozen_.noteId = request.noteId;
    frozen_.tag = request.tag;
}

std::unique_ptr<AudioBuffer> NoteAuditionWorker::synth(const SynthRequest& request) {
    if (frozen_.noteId != request.noteId || frozen_.tag != request.tag || !frozen_.usable())
        return nullptr;
    try {
        return std::make_unique<AudioBuffer>(
            synth_(frozen_, request, [this] { return !destroying_.load(); }));
    } catch (const std::exception&) {
        return nullptr;
    }
}

void NoteAuditionWorker::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || freezePending_ || synthPending_; });
        if (stop_)
            return;
        std::optional<FreezeRequest> freeze;
        std::optional<SynthRequest> synthRequest;
        if (freezePending_) {
            freeze = std::move(freeze_);
            freeze_ = FreezeRequest{};
            freezePending_ = false;
        }
        if (synthPending_) {
            synthRequest = synthRequest_;
            synthPending_ = false;
        }
        working_ = true;
        lock.unlock();

        // A synth taken together with its freeze runs after it.
        if (freeze)
            analyze(*freeze);
        freeze.reset();
        std::unique_ptr<AudioBuffer> audio = synthRequest ? synth(*synthRequest) : nullptr;

        lock.lock();
        // A result whose key is no longer the newest request's is dropped: a later drag step or freeze
        // has superseded it.
        if (audio && Key{synthRequest->noteId, synthRequest->serial, synthRequest->tag} == latest_)
            result_ = Result{std::move(audio), synthRequest->noteId, synthRequest->serial, synthRequest->tag};
        working_ = false;
        lock.unlock();
        wake_.notify_all();
        // A dropped buffer is freed outside the lock.
        audio.reset();
        lock.lock();
    }
}

} // namespace np
