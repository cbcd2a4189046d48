#include "engine/analysis/analysis_threads.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace np {
namespace {

std::atomic<int> forcedThreads{0};

} // namespace

int analysisThreadCount() noexcept {
    const int forced = forcedThreads.load(std::memory_order_relaxed);
    if (forced > 0)
        return forced;
    const auto hardware = static_cast<int>(std::thread::hardware_concurrency());
    return std::max(1, hardware - 1);
}

void setAnalysisThreadCount(int threads) noexcept {
    forcedThreads.store(std::max(0, threads), std::memory_order_relaxed);
}

namespace detail {

int stageThreads(std::size_t chunks, std::uint64_t allowanceBytes, std::uint64_t perThreadBytes) noexcept {
    std::uint64_t limit = std::min<std::uint64_t>(static_cast<std::uint64_t>(analysisThreadCount()), chunks);
    if (perThreadBytes > 0)
        limit = std::min(limit, allowanceBytes / perThreadBytes);
    return static_cast<int>(std::max<std::uint64_t>(limit, 1));
}

ChunkedStage::ChunkedStage(std::size_t chunks, int threads)
    : chunks_(chunks), threads_(std::max(1, threads)), done_(std::make_unique<std::atomic<bool>[]>(chunks)) {}

ChunkedStage::~ChunkedStage() = default;

void ChunkedStage::stop() noexcept {
    stopped_.store(true, std::memory_order_release);
    events_.fetch_add(1, std::memory_order_acq_rel);
    events_.notify_all();
}

void ChunkedStage::fail(std::exception_ptr error) noexcept {
    {
        std::lock_guard lock(errorMutex_);
        if (!error_)
            error_ = std::move(error);
    }
    stop();
}

bool ChunkedStage::awaitChunk(std::size_t chunk) const noexcept {
    for (;;) {
        // Read the event count before the flags, so that a chunk finishing in between wakes the wait.
        const std::uint32_t seen = events_.load(std::memory_order_acquire);
        if (done_[chunk].load(std::memory_order_acquire))
            return true;
        if (stopped())
            return false;
        events_.wait(seen, std::memory_order_acquire);
    }
}

bool ChunkedStage::runOne(int worker, const std::function<void(std::size_t, int)>& work) noexcept {
    if (stopped())
        return false;
    const std::size_t chunk = next_.fetch_add(1, std::memory_order_relaxed);
    if (chunk >= chunks_)
        return false;
    try {
        work(chunk, worker);
    } catch (...) {
        fail(std::current_exception());
        return false;
    }
    // A chunk that gave up because the stage stopped did not finish: marking it done would let its
    // successor run on while an earlier chunk is still writing what they share.
    if (stopped())
        return false;
    done_[chunk].store(true, std::memory_order_release);
    events_.fetch_add(1, std::memory_order_acq_rel);
    events_.notify_all();
    return true;
}

void ChunkedStage::helperLoop(int worker, const std::function<void(std::size_t, int)>& work) noexcept {
    while (runOne(worker, work)) {
    }
}

bool ChunkedStage::run(const std::function<void(std::size_t, int)>& work,
                       const std::function<bool(std::size_t)>& report) {
    std::vector<std::thread> helpers;
    for (int worker = 1; worker < threads_ && static_cast<std::size_t>(worker) < chunks_; ++worker) {
        try {
            helpers.emplace_back([this, worker, &work] { helperLoop(worker, work); });
        } catch (...) {
            break; // fewer helpers: the calling thread takes the remaining chunks itself
        }
    }
    std::size_t reported = 0;
    bool stoppedByReport = false;
    // Reports every chunk whose predecessors are all done; false once a report said stop or threw
    // (the helpers are joined before the exception goes on).
    const auto reportReady = [&] {
        while (reported < chunks_ && done_[reported].load(std::memory_order_acquire)) {
            bool goOn = false;
            try {
                goOn = report(reported);
            } catch (...) {
                fail(std::current_exception());
                return false;
            }
            if (!goOn) {
                stoppedByReport = true;
                stop();
                return false;
            }
            ++reported;
        }
        return true;
    };
    while (reportReady() && runOne(0, work)) {
    }
    while (!stoppedByReport && !stopped() && reported < chunks_) {
        const std::uint32_t seen = events_.load(std::memory_order_acquire);
        if (reportReady() && reported < chunks_ && !stopped())
            events_.wait(seen, std::memory_order_acquire);
    }
    for (std::thread& helper : helpers)
        helper.join();
    {
        std::lock_guard lock(errorMutex_);
        if (error_)
            std::rethrow_exception(error_);
    }
    return !stoppedByReport && reported == chunks_;
}

} // namespace detail

} // namespace np
