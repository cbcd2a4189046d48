#include "engine/analysis/analysis_worker.h"

#include "engine/analysis/analyses.h"
#include "engine/audio/worker_thread.h"

#include <exception>

namespace np {
namespace {

AnalysisResult runDefaultAnalysis(const AnalysisWorker::Request& request,
                                  const std::function<bool(float)>& progress) {
    const AnalysisConfig config;
    if (request.percussive)
        return analyzePercussive(*request.audio, request.sampleRate, config, progress);
    return analyzeMelodic(*request.audio, request.sampleRate, config, progress);
}

} // namespace

AnalysisWorker::AnalysisWorker() : AnalysisWorker(Job(runDefaultAnalysis)) {}

AnalysisWorker::AnalysisWorker(Job job) : job_(job ? std::move(job) : Job(runDefaultAnalysis)) {}

AnalysisWorker::~AnalysisWorker() {
    shuttingDown_.store(true);
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void AnalysisWorker::request(std::shared_ptr<const AudioBuffer> audio, double sampleRate, bool percussive,
                             std::uint64_t stampA, std::uint64_t stampB) {
    {
        std::lock_guard lock(mutex_);
        const std::uint64_t generation = generation_.fetch_add(1) + 1;
        pending_.reset();
        finished_.reset();
        progress_.store(0.0f);
        if (ensureThreadStartedLocked()) {
            pending_ = Request{std::move(audio), sampleRate, percussive, stampA, stampB, generation};
        } else {
            Result failed;
            failed.stampA = stampA;
            failed.stampB = stampB;
            failed.error = kStartFailedMessage;
            finished_ = std::move(failed);
        }
    }
    wake_.notify_all();
}

void AnalysisWorker::cancel() {
    std::lock_guard lock(mutex_);
    generation_.fetch_add(1);
    pending_.reset();
    finished_.reset();
    progress_.store(0.0f);
}

std::optional<AnalysisWorker::Result> AnalysisWorker::takeResult() {
    std::lock_guard lock(mutex_);
    std::optional<Result> result = std::move(finished_);
    finished_.reset();
    return result;
}

bool AnalysisWorker::resultWaiting() const {
    std::lock_guard lock(mutex_);
    return finished_.has_value();
}

bool AnalysisWorker::busy() const {
    std::lock_guard lock(mutex_);
    return running_ || pending_.has_value();
}

bool AnalysisWorker::threadStarted() const {
    std::lock_guard lock(mutex_);
    return thread_.joinable();
}

bool AnalysisWorker::ensureThreadStartedLocked() {
    return startThreadOnce(thread_, [this] { run(); });
}

AnalysisWorker::Result AnalysisWorker::analyse(const Request& request) {
    Result result;
    result.stampA = request.stampA;
    result.stampB = request.stampB;
    if (!request.audio)
        return result;
    // A stale analysis neither reports progress nor goes on: the newer request owns the progress line.
    const std::function<bool(float)> progress = [this, generation = request.generation](float fraction) {
        if (shuttingDown_.load())
            return false;
        if (generation_.load() != generation)
            return false;
        progress_.store(fraction);
        return true;
    };
    try {
        result.analysis = job_(request, progress);
    } catch (const std::exception& e) {
        result.error = e.what();
    } catch (...) {
        result.error = kUnexpectedFailureMessage;
    }
    return result;
}

void AnalysisWorker::run() {
    for (;;) {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stop_ || pending_.has_value(); });
        if (stop_)
            return;
        Request request = std::move(*pending_);
        pending_.reset();
        running_ = true;
        lock.unlock();

        Result result = analyse(request);

        lock.lock();
        running_ = false;
        // A cancelled analysis only happens when shutting down or superseded; it is never delivered.
        if (generation_.load() == request.generation && !result.analysis.cancelled)
            finished_ = std::move(result);
        else
            progress_.store(0.0f);
    }
}

} // namespace np
