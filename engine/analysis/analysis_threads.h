#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace np {

// Threads an analysis uses, the calling thread included: one less than the hardware offers, so that a
// core stays free for the host's audio thread, and at least 1. Thread-safe.
int analysisThreadCount() noexcept;

// Sets the thread count of the analysis stages started afterwards (at least 1); 0 restores the
// default. Results do not depend on it: tests force 1 and several to compare them. Thread-safe.
void setAnalysisThreadCount(int threads) noexcept;

namespace detail {

// The threads a stage may use: at most analysisThreadCount() and one per chunk, and only as many as
// the stage's fixed memory allowance holds scratch for (perThreadBytes each); at least 1.
int stageThreads(std::size_t chunks, std::uint64_t allowanceBytes, std::uint64_t perThreadBytes) noexcept;

// A frame-independent stage cut into fixed chunks, which the calling thread and its helpers take in
// ascending order from an atomic counter. Only the calling thread reports progress: it calls
// report(k) for k = 0, 1, ... as soon as chunks 0..k are all done, so reports come in the serial
// order with the serial values however the chunks were shared. A report returning false stops the
// stage: no chunk starts afterwards and run() returns false once the helpers have finished.
//
// work(chunk, worker) may run on any of the threads; worker (0 for the calling thread, below threads)
// indexes per-thread scratch. An exception thrown by work or report stops the stage and is rethrown
// by run() once the helpers have finished.
class ChunkedStage {
public:
    ChunkedStage(std::size_t chunks, int threads);
    ~ChunkedStage();
    ChunkedStage(const ChunkedStage&) = delete;
    ChunkedStage& operator=(const ChunkedStage&) = delete;

    bool run(const std::function<void(std::size_t chunk, int worker)>& work,
             const std::function<bool(std::size_t chunk)>& report);

    // For a thread running beside the stage: blocks until chunk is done; false when the stage stopped
    // first.
    bool awaitChunk(std::size_t chunk) const noexcept;

    // Stops the stage from any thread, waking every waiter.
    void stop() noexcept;
    bool stopped() const noexcept { return stopped_.load(std::memory_order_acquire); }

    int threads() const noexcept { return threads_; }

private:
    void helperLoop(int worker, const std::function<void(std::size_t, int)>& work) noexcept;
    // Runs one chunk and marks it done; false when the stage is over for this thread.
    bool runOne(int worker, const std::function<void(std::size_t, int)>& work) noexcept;
    void fail(std::exception_ptr error) noexcept;

    std::size_t chunks_;
    int threads_;
    std::unique_ptr<std::atomic<bool>[]> done_;
    std::atomic<std::size_t> next_{0};
    // Raised after every finished chunk and on stop, so that waiters can block on it.
    std::atomic<std::uint32_t> events_{0};
    std::atomic<bool> stopped_{false};
    std::mutex errorMutex_;
    std::exception_ptr error_;
};

} // namespace detail

} // namespace np
