#pragma once

// The realtime check: counts, per thread, the allocations, frees, mutex calls and condition-variable
// calls a thread makes, and flags those made while the thread is marked realtime (the host marks the
// thread running ProcessBlock, except during an offline bounce, where waiting is allowed).
//
// How it sees the calls: in plain builds this library interposes malloc, calloc, realloc, free,
// posix_memalign, aligned_alloc and memalign (operator new and delete reach them) and the pthread
// mutex, read-write lock and condition-variable calls that std::mutex, std::shared_mutex and
// std::condition_variable use; each forwards to the C library. Sanitizer builds own those symbols, so
// there only allocations and frees are seen, through the sanitizer's allocation hooks; mutex and
// condition calls go uncounted, and realtimeCheckMode() says so.
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
    bool operator==(const RealtimeCounts&) const = default;
};

enum class RealtimeCheckMode {
    Full,            // allocations, frees, mutex and condition calls
    AllocationsOnly, // sanitizer builds: allocations and frees only
};

RealtimeCheckMode realtimeCheckMode() noexcept;
// One sentence for reports: what this build's check sees.
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
