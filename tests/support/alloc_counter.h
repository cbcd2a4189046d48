#pragma once

// A test-only allocation counter: counts the allocations and frees made on the current thread while a
// ScopedAllocationCounter is alive there, so a realtime thread can be checked while other threads
// allocate freely.
//
// Plain builds replace every form of the global operator new and delete (standard containers allocate
// through them); the replacements are linked into every test program that uses operator new and,
// outside a counting scope, only forward to malloc and free. Sanitizer builds cannot replace them (the
// runtime defines them) and count through the sanitizer's allocation hooks instead, which see malloc
// and free as well.

#include <cstdint>

namespace cvtest {

struct AllocationCounts {
    std::uint64_t allocations = 0;
    std::uint64_t frees = 0;
};

// Counts operator new / delete calls on the constructing thread for its lifetime. Not nestable.
class ScopedAllocationCounter {
public:
    ScopedAllocationCounter() noexcept;
    ~ScopedAllocationCounter();
    ScopedAllocationCounter(const ScopedAllocationCounter&) = delete;
    ScopedAllocationCounter& operator=(const ScopedAllocationCounter&) = delete;

    // The calls counted so far on this thread.
    AllocationCounts counts() const noexcept;

    // The most bytes (as the allocator sized the blocks) that this thread's allocations held at once
    // since the counter started, net of its frees. Memory taken by other threads is not seen.
    std::uint64_t peakBytes() const noexcept;
};

// The next `count` operator new calls on this thread fail (std::bad_alloc, or null for the nothrow
// forms). 0 restores normal allocation. Has no effect where allocationFailuresSupported() is false.
void failAllocationsOnThisThread(int count) noexcept;

// False in sanitizer builds, where allocation cannot be made to fail on demand.
bool allocationFailuresSupported() noexcept;

} // namespace cvtest
