#pragma once

// A test-only allocation counter. The support library replaces every form of the global operator new
// and delete with versions that count the calls made on the current thread while a
// ScopedAllocationCounter is alive there, so a realtime thread can be checked for allocations while
// other threads allocate freely. Standard containers allocate through operator new, so their growth is
// counted. malloc and free are left alone: the sanitizers own those.
//
// The replacements are linked into every test program that uses operator new; outside a counting scope
// they only forward to malloc and free.

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
};

// The next `count` operator new calls on this thread fail (std::bad_alloc, or null for the nothrow
// forms). 0 restores normal allocation.
void failAllocationsOnThisThread(int count) noexcept;

} // namespace cvtest
