#pragma once

#include "engine/analysis/analysis_records.h"
#include "engine/audio/audio_buffer.h"

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

// Runs one analysis at a time on a background thread of its own, so that the editor and the audio
// thread never wait for pitch tracking. The newest request always wins: every request or cancel
// raises the generation, and a result computed for an older generation is thrown away.
//
// Every public method is called from the owner's thread (the host's main thread); the worker thread
// starts on the first request and ends when the worker is destroyed.
class AnalysisWorker {
public:
    struct Request {
        std::shared_ptr<const AudioBuffer> audio; // shared with the session; never copied
        double sampleRate = 48000.0;
        bool percussive = false; // true: Percussive analysis; false: Melodic
        std::uint64_t stampA = 0;
        std::uint64_t stampB = 0;
        std::uint64_t generation = 0;
    };

    struct Result {
        AnalysisResult analysis;
        std::uint64_t stampA = 0; // echoed from the request
        std::uint64_t stampB = 0;
        std::string error; // empty on success; otherwise a sentence for the user
    };

    // Runs one analysis; the default calls analyzePercussive or analyzeMelodic with default settings.
    // Tests substitute a job to control timing. Called on the worker thread only.
    using Job = std::function<AnalysisResult(const Request&, const std::function<bool(float)>& progress)>;

    AnalysisWorker();
    explicit AnalysisWorker(Job job);
    ~AnalysisWorker();
    AnalysisWorker(const AnalysisWorker&) = delete;
    AnalysisWorker& operator=(const AnalysisWorker&) = delete;

    // Replaces any pending request and any undelivered result with an analysis of audio. When the
    // thread cannot be started, a finished result with an error sentence is left for takeResult.
    void request(std::shared_ptr<const AudioBuffer> audio, double sampleRate, bool percussive,
                 std::uint64_t stampA, std::uint64_t stampB);

    // Drops the pending request and any undelivered result; a running analysis stops at its next
    // progress report and its result is discarded.
    void cancel();

    // The finished result, once; empty when there is none.
    std::optional<Result> takeResult();
    // Whether a finished result waits for takeResult.
    bool resultWaiting() const;

    // Running, or a request pending.
    bool busy() const;

    bool threadStarted() const;

    // Fraction 0..1 of the current analysis; lock-free, for drawing the progress line.
    float progress() const noexcept { return progress_.load(std::memory_order_relaxed); }

    static constexpr const char* kStartFailedMessage = "The background analysis worker could not be started";
    static constexpr const char* kUnexpectedFailureMessage = "Analysis failed unexpectedly";

private:
    // The caller holds mutex_.
    bool ensureThreadStartedLocked();
    void run();
    Result analyse(const Request& request);

    Job job_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Request> pending_;
    std::optional<Result> finished_;
    bool running_ = false;
    bool stop_ = false;
    // Read by the analysis thread in every progress report while the destructor sets it, hence atomic.
    std::atomic<bool> shuttingDown_{false};
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<float> progress_{0.0f};
    std::thread thread_;
};

} // namespace np
