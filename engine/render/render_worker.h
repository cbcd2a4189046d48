#pragma once

#include "engine/audio/audio_buffer.h"
#include "engine/model/document.h"
#include "engine/render/render_types.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace np {

// Renders the edited document in the background on a thread of its own, converts the result to the
// host's rate and hands it to the owner, which installs it for playback. The latest request wins: the
// request id is the new value of the generation, which every request and cancel raises; a running
// render whose id is no longer the generation stops at its next cancel poll and its result is dropped.
// The worker also keeps the engine each note received in the last delivered render (RenderHints), so
// that later renders and the export make the same choices.
//
// Threads: requestRender, cancel, takeResult, resultWaiting, busy, hintsSnapshot and progress come from
// the owner's thread; during an offline bounce the host's audio thread also calls requestRender and
// waitTakeResult (the one place where the audio thread may block). The worker thread starts on the first
// request and ends when the worker is destroyed. Render failures never escape the thread: they come
// back as a result with an error sentence.
class RenderWorker {
public:
    struct Result {
        std::unique_ptr<AudioBuffer> audio; // at the request's output rate; null on failure
        std::uint64_t requestId = 0;
        std::uint64_t tagA = 0; // the request's tags, echoed
        std::uint64_t tagB = 0;
        std::uint64_t tagC = 0;
        std::string error; // empty on success; otherwise a sentence for the user
    };

    // Renders one document at its own rate; the default is renderDocument. Tests substitute one to
    // control timing. Called on the worker thread only, with the run's options: hints aimed at the run's
    // copy, a progress callback and a cancel test that turns true once the request is superseded,
    // cancelled or the worker is destroyed. Stopping throws RenderCancelled.
    using Render = std::function<AudioBuffer(const Document&, const RenderOptions&)>;

    RenderWorker();
    explicit RenderWorker(Render render);
    ~RenderWorker();
    RenderWorker(const RenderWorker&) = delete;
    RenderWorker& operator=(const RenderWorker&) = delete;

    // Replaces the pending document and drops any untaken result; a running render becomes stale.
    // The render is converted to outputRate when that is above 0 and differs from the document's rate.
    // options' callbacks are called on the worker thread. Writes the request id to *outId (when given)
    // before any result for it can exist, and returns it. When the thread cannot be started, a result
    // for this id with no audio and kStartFailedMessage is left waiting.
    std::uint64_t requestRender(Document doc, std::uint64_t tagA, double outputRate, RenderOptions options,
                                std::uint64_t tagB, std::uint64_t tagC,
                                std::atomic<std::uint64_t>* outId = nullptr);

    // Drops the pending document and any untaken result; a running render stops at its next cancel
    // poll and its result is discarded.
    void cancel();

    // The waiting result, once; empty when there is none. Non-blocking.
    std::optional<Result> takeResult();
    // Whether a result waits for takeResult. Non-blocking.
    bool resultWaiting() const;

    // Blocks until the request id can no longer produce a result or its result is waiting, and takes
    // that result. Empty at once for id 0 and once the worker is stopping; empty when id has been
    // superseded or cancelled, or its render was cancelled by its own test. For the offline bounce.
    std::optional<Result> waitTakeResult(std::uint64_t id);

    // Rendering, or a document pending.
    bool busy() const;

    // A copy of the engines recorded by the delivered renders so far.
    RenderHints hintsSnapshot() const;

    // Fraction 0..1 of the current render; lock-free.
    float progress() const noexcept { return progress_.load(std::memory_order_relaxed); }

    static constexpr const char* kStartFailedMessage = "The background render worker could not be started";
    static constexpr const char* kUnexpectedFailureMessage = "Edited playback could not be rendered";

private:
    struct Job {
        Document document;
        std::uint64_t tagA = 0;
        std::uint64_t tagB = 0;
        std::uint64_t tagC = 0;
        std::uint64_t id = 0;
        double outputRate = 0.0;
        RenderOptions options;
    };

    // The caller holds mutex_.
    bool ensureThreadStartedLocked();
    void run();
    // Renders and converts one job with hints starting as a copy of the worker's; empty when the run
    // was cancelled.
    std::optional<Result> execute(Job& job, RenderHints& hints);

    Render render_;
    mutable std::mutex mutex_;
    // One condition variable serves the worker thread and waitTakeResult, so every change either may
    // wait for (request, cancel, stop, the end of every run) wakes all waiters.
    std::condition_variable wake_;
    std::optional<Job> pending_;
    RenderHints hints_;
    std::optional<Result> result_;
    bool rendering_ = false;
    bool stop_ = false;
    // Read by the running render's cancel test outside the mutex while the destructor sets it.
    std::atomic<bool> destroying_{false};
    // Raised under the mutex; read without it by the cancel test and the progress callback.
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<float> progress_{0.0f};
    std::thread thread_;
};

} // namespace np
