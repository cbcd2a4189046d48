#include "tests/support/alloc_counter.h"

#include <cstddef>
#include <cstdlib>
#include <new>

// The sanitizer runtimes define the global operator new and delete themselves, so a replacement would
// not link there; they offer allocation hooks instead, which also see malloc and free.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CV_ALLOCATION_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CV_ALLOCATION_HOOKS 1
#endif
#endif

#ifndef CV_ALLOCATION_HOOKS
#define CV_ALLOCATION_HOOKS 0
#endif

#if CV_ALLOCATION_HOOKS
#include <sanitizer/allocator_interface.h>
#else
#include <malloc.h>
#endif

namespace {

// Constant-initialised, so touching them never allocates.
constinit thread_local bool tCounting = false;
constinit thread_local std::uint64_t tAllocations = 0;
constinit thread_local std::uint64_t tFrees = 0;
constinit thread_local int tFailuresLeft = 0;
// Bytes held net of frees since the counter started (negative after freeing older blocks), and the peak.
constinit thread_local std::int64_t tBytes = 0;
constinit thread_local std::int64_t tPeakBytes = 0;

void countBytes(std::int64_t bytes) noexcept {
    tBytes += bytes;
    if (tBytes > tPeakBytes)
        tPeakBytes = tBytes;
}

#if !CV_ALLOCATION_HOOKS
void* allocate(std::size_t size, std::size_t alignment) noexcept {
    if (tCounting)
        ++tAllocations;
    if (tFailuresLeft > 0) {
        --tFailuresLeft;
        return nullptr;
    }
    if (size == 0)
        size = 1;
    // aligned_alloc wants the size to be a multiple of the alignment.
    void* p = alignment <= alignof(std::max_align_t)
                  ? std::malloc(size)
                  : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    if (tCounting && p != nullptr)
        countBytes(static_cast<std::int64_t>(malloc_usable_size(p)));
    return p;
}

void* allocateOrThrow(std::size_t size, std::size_t alignment) {
    void* p = allocate(size, alignment);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void release(void* p) noexcept {
    if (p == nullptr)
        return;
    if (tCounting) {
        ++tFrees;
        countBytes(-static_cast<std::int64_t>(malloc_usable_size(p)));
    }
    std::free(p);
}

constexpr std::size_t kPlain = alignof(std::max_align_t);

#else
void countAllocation(const volatile void*, std::size_t size) {
    if (tCounting) {
        ++tAllocations;
        countBytes(static_cast<std::int64_t>(size));
    }
}
void countFree(const volatile void* p) {
    if (tCounting && p != nullptr) {
        ++tFrees;
        countBytes(-static_cast<std::int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(p))));
    }
}
// Installed before main, while the process has one thread, as the runtime requires.
[[maybe_unused]] const int kHooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(countAllocation, countFree);
#endif

} // namespace

namespace cvtest {

ScopedAllocationCounter::ScopedAllocationCounter() noexcept {
    tAllocations = 0;
    tFrees = 0;
    tBytes = 0;
    tPeakBytes = 0;
    tCounting = true;
}

ScopedAllocationCounter::~ScopedAllocationCounter() {
    tCounting = false;
}

AllocationCounts ScopedAllocationCounter::counts() const noexcept {
    return {tAllocations, tFrees};
}

std::uint64_t ScopedAllocationCounter::peakBytes() const noexcept {
    return static_cast<std::uint64_t>(tPeakBytes);
}

void failAllocationsOnThisThread(int count) noexcept {
    tFailuresLeft = count > 0 ? count : 0;
}

bool allocationFailuresSupported() noexcept {
    return !CV_ALLOCATION_HOOKS;
}

} // namespace cvtest

#if !CV_ALLOCATION_HOOKS
// The replaceable global allocation functions, every form.
void* operator new(std::size_t size) {
    return allocateOrThrow(size, kPlain);
}
void* operator new[](std::size_t size) {
    return allocateOrThrow(size, kPlain);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size, kPlain);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size, kPlain);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return allocateOrThrow(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return allocateOrThrow(size, static_cast<std::size_t>(a));
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(size, static_cast<std::size_t>(a));
}

void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    release(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    release(p);
}
#endif
