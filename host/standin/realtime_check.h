#pragma once

// The realtime check: counts, per thread, the allocations, frees, mutex calls and condition-variable
// calls a thread makes, and flags those made while the thread is marked realtime (the host marks the
// thread running ProcessBlock, except during an offline bounce, where waiting is allowed).
//
// How it sees the calls: this library interposes the pthread mutex, read-write lock and
// condition-variable calls that std::mutex, std::shared_mutex and std::condition_variable use, in
// every build. In plain builds each forwards to the C library, and malloc, calloc, realloc, free,
// posix_memalign, aligned_alloc and memalign are interposed too (operator new and delete reach them).
// Sanitizer builds own malloc, so allocations and frees are seen through the sanitizer's allocation
// hooks; the sanitizer defines the pthread calls it intercepts as weak aliases, which these interposers
// override and forward to, so the sanitizer still sees every lock.
//
// Threads: every function is safe from any thread; the counters are per thread, the totals atomic.
// Nothing here allocates or locks.

#include <cstdint>

namespace cv::standin {

struct RealtimeCounts {
    std::uint64_t allocations = 0;
    std::uint64_t frees = 0;
    std::uint64_t mutexCalls = 0;     // lock, try-lock, timed lock, unlock; read-write lock calls
    std::uint64_t conditionCalls = 0; // wait, timed wait, signal, broadcast

    bool any() const noexcept { return allocations + frees + mutexCalls + conditionCalls != 0; }
    RealtimeCounts& operator+=(const RealtimeCounts& o) noexcept {
        allocations += o.allocations;
        frees += o.frees;
        mutexCalls += o.mutexCalls;
        conditionCalls += o.conditionCalls;
        return *this;
    }
    bool operator==(const RealtimeCounts&) const = default;
};

// One sentence for reports: what the check sees.
const char* realtimeCheckDescription() noexcept;

// Realtime: wait-free. Everything this thread did since it started.
RealtimeCounts threadCounts() noexcept;
// Realtime: wait-free. What every thread did while marked realtime, since the process started.
RealtimeCounts totalViolations() noexcept;

// Marks the constructing thread realtime for the scope's life. Not nestable on one thread.
class RealtimeScope {
public:
    // Realtime: wait-free.
    RealtimeScope() noexcept;
    ~RealtimeScope();
    RealtimeScope(const RealtimeScope&) = delete;
    RealtimeScope& operator=(const RealtimeScope&) = delete;

    // Realtime: wait-free. Calls made on this thread inside the scope so far.
    RealtimeCounts violations() const noexcept;

private:
    RealtimeCounts start_;
};

} // namespace cv::standin
