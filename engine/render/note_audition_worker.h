#pragma once

#include "engine/audio/audio_buffer.h"
#include "engine/render/note_audition.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace np {

// Lets a note be heard on its own while the user drags its pitch, with almost no delay, on a thread of
// its own: a freeze (once per drag) analyses a short excerpt of the note and keeps one voiced frame; a
// synth (every drag step, the latest wins) makes a steady tone of it at the wanted F0 and formant ratio
// at the host's rate, for the audition voice to loop.
//
// Every request carries a key (note id, serial, source tag); a freeze sets the serial to 0. A result is
// delivered only while its key is the newest request's, so a late synth of an outdated drag step, or of
// a note frozen before, never reaches the voice.
//
// Every public method is called from the owner's thread (the host's main thread); the worker thread
// starts on the first request and ends when the worker is destroyed. Failures of the analysis and the
// synthesis are swallowed: the audition then stays silent.
class NoteAuditionWorker {
public:
    struct Result {
        std::unique_ptr<AudioBuffer> audio; // mono, at the synth request's output rate
        std::uint32_t noteId = 0;
        std::uint64_t serial = 0;
        std::uint64_t tag = 0;
    };

    // One synth request as requestSynth stores it.
    struct SynthRequest {
        std::uint32_t noteId = 0;
        AuditionTone tone;
        std::uint64_t serial = 0;
        std::uint64_t tag = 0;
    };

    // Makes the audio of one synth; the default is synthesizeAudition. Tests substitute one to control
    // timing. Called on the worker thread only, with a frozen note that is usable and matches the
    // request's note id and tag; keepGoing turns false while the worker is destroyed.
    using Synth = std::function<AudioBuffer(const FrozenNote&, const SynthRequest&,
                                            const std::function<bool()>& keepGoing)>;

    NoteAuditionWorker();
    explicit NoteAuditionWorker(Synth synth);
    ~NoteAuditionWorker();
    NoteAuditionWorker(const NoteAuditionWorker&) = delete;
    NoteAuditionWorker& operator=(const NoteAuditionWorker&) = delete;

    // Freezes excerpt (mono, shared and never copied here) of note noteId at sampleRate, replacing an
    // unprocessed freeze; drops any waiting result. Withdrawn when the thread cannot start.
    void requestFreeze(std::shared_ptr<const std::vector<float>> excerpt, double sampleRate,
                       std::uint32_t noteId, std::uint64_t tag);

    // Synthesises length samples (at the frozen rate) at f0Hz and formantRatio for note noteId,
    // resampled to outputRate; replaces an unprocessed synth and drops a waiting result of another key.
    // Withdrawn when the thread cannot start.
    void requestSynth(std::uint32_t noteId, double f0Hz, std::int64_t length, double outputRate,
                      std::uint64_t serial, double formantRatio, std::uint64_t tag);

    // The waiting result, once; empty when there is none. Non-blocking.
    std::optional<Result> takeResult();
    // Whether a result waits for takeResult. Non-blocking.
    bool resultWaiting() const;

    // Working, or a freeze or synth request pending.
    bool busy() const;

private:
    struct Key {
        std::uint32_t noteId = 0;
        std::uint64_t serial = 0;
        std::uint64_t tag = 0;
        bool operator==(const Key&) const = default;
    };
    struct FreezeRequest {
        std::shared_ptr<const std::vector<float>> excerpt;
        double sampleRate = 0.0;
        std::uint32_t noteId = 0;
        std::uint64_t tag = 0;
    };

    // The caller holds mutex_.
    bool ensureThreadStartedLocked();
    void run();
    void analyze(const FreezeRequest& request);
    std::unique_ptr<AudioBuffer> synth(const SynthRequest& request);

    Synth synth_;
    mutable std::mutex mutex_;
    // Wakes the thread on requests and stop; notified (all waiters) on every request, stop and run end.
    std::condition_variable wake_;
    FreezeRequest freeze_;
    bool freezePending_ = false;
    SynthRequest synthRequest_;
    bool synthPending_ = false;
    Key latest_;
    std::optional<Result> result_;
    bool working_ = false;
    bool stop_ = false;
    // Read by the running synth's keep-going test outside the mutex while the destructor sets it.
    std::atomic<bool> destroying_{false};
    // Worker thread only (and the destructor, after the join).
    FrozenNote frozen_;
    std::thread thread_;
};

} // namespace np
