#include "tests/support/alloc_counter.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// Constant-initialised, so touching them never allocates.
constinit thread_local bool tCounting = false;
constinit thread_local std::uint64_t tAllocations = 0;
constinit thread_local std::uint64_t tFrees = 0;
constinit thread_local int tFailuresLeft = 0;

void* allocate(std::size_t size, std::size_t alignment) noexcept {
    if (tCounting)
        ++tAllocations;
    if (tFailuresLeft > 0) {
        --tFailuresLeft;
        return nullptr;
    }
    if (size == 0)
        size = 1;
    if (alignment <= alignof(std::max_align_t))
        return std::malloc(size);
    // aligned_alloc wants the size to be a multiple of the alignment.
    const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
    return std::aligned_alloc(alignment, rounded);
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
    if (tCounting)
        ++tFrees;
    std::free(p);
}

constexpr std::size_t kPlain = alignof(std::max_align_t);

} // namespace

namespace cvtest {

ScopedAllocationCounter::ScopedAllocationCounter() noexcept {
    tAllocations = 0;
    tFrees = 0;
    tCounting = true;
}

ScopedAllocationCounter::~ScopedAllocationCounter() {
    tCounting = false;
}

AllocationCounts ScopedAllocationCounter::counts() const noexcept {
    return {tAllocations, tFrees};
}

void failAllocationsOnThisThread(int count) noexcept {
    tFailuresLeft = count > 0 ? count : 0;
}

} // namespace cvtest

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
