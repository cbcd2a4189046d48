#include "host/standin/realtime_check.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CV_SANITIZER_OWNS_MALLOC 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CV_SANITIZER_OWNS_MALLOC 1
#endif
#endif
#ifndef CV_SANITIZER_OWNS_MALLOC
#define CV_SANITIZER_OWNS_MALLOC 0
#endif

#if CV_SANITIZER_OWNS_MALLOC
#include <sanitizer/allocator_interface.h>
#else
#include <dlfcn.h>
#include <pthread.h>
#endif

namespace cv::standin {
namespace {

// Constant-initialised, so touching them never allocates (the interposed malloc itself reads them).
constinit thread_local RealtimeCounts tCounts{};
constinit thread_local bool tRealtime = false;

std::atomic<std::uint64_t> gAllocations{0};
std::atomic<std::uint64_t> gFrees{0};
std::atomic<std::uint64_t> gMutexCalls{0};
std::atomic<std::uint64_t> gConditionCalls{0};

inline void countAllocation() noexcept {
    ++tCounts.allocations;
    if (tRealtime)
        gAllocations.fetch_add(1, std::memory_order_relaxed);
}
inline void countFree() noexcept {
    ++tCounts.frees;
    if (tRealtime)
        gFrees.fetch_add(1, std::memory_order_relaxed);
}
[[maybe_unused]] inline void countMutex() noexcept {
    ++tCounts.mutexCalls;
    if (tRealtime)
        gMutexCalls.fetch_add(1, std::memory_order_relaxed);
}
[[maybe_unused]] inline void countCondition() noexcept {
    ++tCounts.conditionCalls;
    if (tRealtime)
        gConditionCalls.fetch_add(1, std::memory_order_relaxed);
}

#if CV_SANITIZER_OWNS_MALLOC
void allocationHook(const volatile void*, std::size_t) {
    countAllocation();
}
void freeHook(const volatile void* p) {
    if (p != nullptr)
        countFree();
}
// Installed before main, while the process has one thread, as the runtime requires.
[[maybe_unused]] const int kHooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(allocationHook, freeHook);
#endif

RealtimeCounts minus(const RealtimeCounts& a, const RealtimeCounts& b) noexcept {
    return {a.allocations - b.allocations, a.frees - b.frees, a.mutexCalls - b.mutexCalls,
            a.conditionCalls - b.conditionCalls};
}

} // namespace

RealtimeCheckMode realtimeCheckMode() noexcept {
    return CV_SANITIZER_OWNS_MALLOC ? RealtimeCheckMode::AllocationsOnly : RealtimeCheckMode::Full;
}

const char* realtimeCheckDescription() noexcept {
    return CV_SANITIZER_OWNS_MALLOC
               ? "realtime check: allocations and frees only (a sanitizer owns malloc and the pthread calls)"
               : "realtime check: allocations, frees, mutex and condition-variable calls";
}

RealtimeCounts threadCounts() noexcept {
    return tCounts;
}

RealtimeCounts totalViolations() noexcept {
    return {gAllocations.load(std::memory_order_relaxed), gFrees.load(std::memory_order_relaxed),
            gMutexCalls.load(std::memory_order_relaxed), gConditionCalls.load(std::memory_order_relaxed)};
}

RealtimeScope::RealtimeScope() noexcept : start_(tCounts) {
    tRealtime = true;
}

RealtimeScope::~RealtimeScope() {
    tRealtime = false;
}

RealtimeCounts RealtimeScope::violations() const noexcept {
    return minus(tCounts, start_);
}

} // namespace cv::standin

#if !CV_SANITIZER_OWNS_MALLOC

using cv::standin::countAllocation;
using cv::standin::countCondition;
using cv::standin::countFree;
using cv::standin::countMutex;

// The C library's own entry points, which the interposers forward to.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);
}

namespace {

// The next definition of a pthread call, looked up once. dlsym does not reach these interposers
// (the dynamic linker takes its own locks), so the lookup cannot recurse.
template <class Fn>
Fn nextDefinition(std::atomic<Fn>& slot, const char* name) noexcept {
    Fn fn = slot.load(std::memory_order_acquire);
    if (fn == nullptr) {
        fn = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
        slot.store(fn, std::memory_order_release);
    }
    return fn;
}

using MutexFn = int (*)(pthread_mutex_t*);
using TimedMutexFn = int (*)(pthread_mutex_t*, const timespec*);
using RwFn = int (*)(pthread_rwlock_t*);
using CondWaitFn = int (*)(pthread_cond_t*, pthread_mutex_t*);
using CondTimedFn = int (*)(pthread_cond_t*, pthread_mutex_t*, const timespec*);
using CondClockFn = int (*)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*);
using CondFn = int (*)(pthread_cond_t*);

std::atomic<MutexFn> gLock{nullptr}, gTryLock{nullptr}, gUnlock{nullptr};
std::atomic<TimedMutexFn> gTimedLock{nullptr};
std::atomic<RwFn> gRdLock{nullptr}, gWrLock{nullptr}, gRwUnlock{nullptr};
std::atomic<CondWaitFn> gWait{nullptr};
std::atomic<CondTimedFn> gTimedWait{nullptr};
std::atomic<CondClockFn> gClockWait{nullptr};
std::atomic<CondFn> gSignal{nullptr}, gBroadcast{nullptr};

// Looked up before main, while the process has one thread.
[[maybe_unused]] const bool kResolved = [] {
    nextDefinition(gLock, "pthread_mutex_lock");
    nextDefinition(gTryLock, "pthread_mutex_trylock");
    nextDefinition(gUnlock, "pthread_mutex_unlock");
    nextDefinition(gTimedLock, "pthread_mutex_timedlock");
    nextDefinition(gRdLock, "pthread_rwlock_rdlock");
    nextDefinition(gWrLock, "pthread_rwlock_wrlock");
    nextDefinition(gRwUnlock, "pthread_rwlock_unlock");
    nextDefinition(gWait, "pthread_cond_wait");
    nextDefinition(gTimedWait, "pthread_cond_timedwait");
    nextDefinition(gClockWait, "pthread_cond_clockwait");
    nextDefinition(gSignal, "pthread_cond_signal");
    nextDefinition(gBroadcast, "pthread_cond_broadcast");
    return true;
}();

bool validAlignment(std::size_t alignment) noexcept {
    return alignment >= sizeof(void*) && (alignment & (alignment - 1)) == 0;
}

} // namespace

extern "C" {

void* malloc(std::size_t size) noexcept {
    countAllocation();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept {
    countAllocation();
    return __libc_calloc(count, size);
}

void* realloc(void* p, std::size_t size) noexcept {
    if (p == nullptr) {
        countAllocation();
    } else if (size == 0) {
        countFree();
    } else {
        countAllocation();
        countFree();
    }
    return __libc_realloc(p, size);
}

void free(void* p) noexcept {
    if (p != nullptr)
        countFree();
    __libc_free(p);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
    if (!validAlignment(alignment))
        return EINVAL;
    countAllocation();
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr)
        return ENOMEM;
    *out = p;
    return 0;
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    countAllocation();
    return __libc_memalign(alignment, size);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
    countAllocation();
    return __libc_memalign(alignment, size);
}

int pthread_mutex_lock(pthread_mutex_t* m) noexcept {
    countMutex();
    return nextDefinition(gLock, "pthread_mutex_lock")(m);
}

int pthread_mutex_trylock(pthread_mutex_t* m) noexcept {
    countMutex();
    return nextDefinition(gTryLock, "pthread_mutex_trylock")(m);
}

int pthread_mutex_unlock(pthread_mutex_t* m) noexcept {
    countMutex();
    return nextDefinition(gUnlock, "pthread_mutex_unlock")(m);
}

int pthread_mutex_timedlock(pthread_mutex_t* m, const timespec* t) noexcept {
    countMutex();
    return nextDefinition(gTimedLock, "pthread_mutex_timedlock")(m, t);
}

int pthread_rwlock_rdlock(pthread_rwlock_t* l) noexcept {
    countMutex();
    return nextDefinition(gRdLock, "pthread_rwlock_rdlock")(l);
}

int pthread_rwlock_wrlock(pthread_rwlock_t* l) noexcept {
    countMutex();
    return nextDefinition(gWrLock, "pthread_rwlock_wrlock")(l);
}

int pthread_rwlock_unlock(pthread_rwlock_t* l) noexcept {
    countMutex();
    return nextDefinition(gRwUnlock, "pthread_rwlock_unlock")(l);
}

int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
    countCondition();
    return nextDefinition(gWait, "pthread_cond_wait")(c, m);
}

int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m, const timespec* t) {
    countCondition();
    return nextDefinition(gTimedWait, "pthread_cond_timedwait")(c, m, t);
}

int pthread_cond_clockwait(pthread_cond_t* c, pthread_mutex_t* m, clockid_t clock, const timespec* t) {
    countCondition();
    return nextDefinition(gClockWait, "pthread_cond_clockwait")(c, m, clock, t);
}

int pthread_cond_signal(pthread_cond_t* c) noexcept {
    countCondition();
    return nextDefinition(gSignal, "pthread_cond_signal")(c);
}

int pthread_cond_broadcast(pthread_cond_t* c) noexcept {
    countCondition();
    return nextDefinition(gBroadcast, "pthread_cond_broadcast")(c);
}

} // extern "C"

#endif
