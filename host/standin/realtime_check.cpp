#include "host/standin/realtime_check.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <type_traits>

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

#include <dlfcn.h>
#include <pthread.h>

#if CV_SANITIZER_OWNS_MALLOC
#include <sanitizer/allocator_interface.h>
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
inline void countMutex() noexcept {
    ++tCounts.mutexCalls;
    if (tRealtime)
        gMutexCalls.fetch_add(1, std::memory_order_relaxed);
}
inline void countCondition() noexcept {
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

const char* realtimeCheckDescription() noexcept {
    return "realtime check: allocations, frees, mutex and condition-variable calls";
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

// --- Locks and waits, in every build ------------------------------------------------------------------

using cv::standin::countCondition;
using cv::standin::countMutex;

#if CV_SANITIZER_OWNS_MALLOC
// A sanitizer runtime defines the pthread calls it intercepts as weak aliases of its interceptors, so a
// program may still define them: the interposers below then forward to the interceptor, which the
// sanitizer must see for every lock and wait (ThreadSanitizer orders threads by them). A call the
// runtime does not intercept (AddressSanitizer takes only mutex lock and unlock) has no interceptor:
// its weak declaration here is null, and the call goes on to the C library's definition.
extern "C" {
int __interceptor_pthread_mutex_lock(pthread_mutex_t*) __attribute__((weak));
int __interceptor_pthread_mutex_trylock(pthread_mutex_t*) __attribute__((weak));
int __interceptor_pthread_mutex_unlock(pthread_mutex_t*) __attribute__((weak));
int __interceptor_pthread_mutex_timedlock(pthread_mutex_t*, const timespec*) __attribute__((weak));
int __interceptor_pthread_rwlock_rdlock(pthread_rwlock_t*) __attribute__((weak));
int __interceptor_pthread_rwlock_wrlock(pthread_rwlock_t*) __attribute__((weak));
int __interceptor_pthread_rwlock_unlock(pthread_rwlock_t*) __attribute__((weak));
int __interceptor_pthread_cond_wait(pthread_cond_t*, pthread_mutex_t*) __attribute__((weak));
int __interceptor_pthread_cond_timedwait(pthread_cond_t*, pthread_mutex_t*, const timespec*)
    __attribute__((weak));
int __interceptor_pthread_cond_clockwait(pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*)
    __attribute__((weak));
int __interceptor_pthread_cond_signal(pthread_cond_t*) __attribute__((weak));
int __interceptor_pthread_cond_broadcast(pthread_cond_t*) __attribute__((weak));
}
#define CV_INTERCEPTOR(name) __interceptor_##name
#else
#define CV_INTERCEPTOR(name) nullptr
#endif

namespace {

// Where a pthread call goes on, looked up once: the sanitizer's interceptor when there is one, else the
// next definition (the C library's). dlsym does not reach these interposers (the dynamic linker takes
// its own locks), so the lookup cannot recurse.
template <class Fn>
Fn nextDefinition(std::atomic<Fn>& slot, const char* name, std::type_identity_t<Fn> interceptor) noexcept {
    Fn fn = slot.load(std::memory_order_acquire);
    if (fn == nullptr) {
        fn = interceptor != nullptr ? interceptor : reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
        slot.store(fn, std::memory_order_release);
    }
    return fn;
}

#define CV_NEXT(slot, name) nextDefinition(slot, #name, CV_INTERCEPTOR(name))

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
    CV_NEXT(gLock, pthread_mutex_lock);
    CV_NEXT(gTryLock, pthread_mutex_trylock);
    CV_NEXT(gUnlock, pthread_mutex_unlock);
    CV_NEXT(gTimedLock, pthread_mutex_timedlock);
    CV_NEXT(gRdLock, pthread_rwlock_rdlock);
    CV_NEXT(gWrLock, pthread_rwlock_wrlock);
    CV_NEXT(gRwUnlock, pthread_rwlock_unlock);
    CV_NEXT(gWait, pthread_cond_wait);
    CV_NEXT(gTimedWait, pthread_cond_timedwait);
    CV_NEXT(gClockWait, pthread_cond_clockwait);
    CV_NEXT(gSignal, pthread_cond_signal);
    CV_NEXT(gBroadcast, pthread_cond_broadcast);
    return true;
}();

} // namespace

extern "C" {

int pthread_mutex_lock(pthread_mutex_t* m) noexcept {
    countMutex();
    return CV_NEXT(gLock, pthread_mutex_lock)(m);
}

int pthread_mutex_trylock(pthread_mutex_t* m) noexcept {
    countMutex();
    return CV_NEXT(gTryLock, pthread_mutex_trylock)(m);
}

int pthread_mutex_unlock(pthread_mutex_t* m) noexcept {
    countMutex();
    return CV_NEXT(gUnlock, pthread_mutex_unlock)(m);
}

int pthread_mutex_timedlock(pthread_mutex_t* m, const timespec* t) noexcept {
    countMutex();
    return CV_NEXT(gTimedLock, pthread_mutex_timedlock)(m, t);
}

int pthread_rwlock_rdlock(pthread_rwlock_t* l) noexcept {
    countMutex();
    return CV_NEXT(gRdLock, pthread_rwlock_rdlock)(l);
}

int pthread_rwlock_wrlock(pthread_rwlock_t* l) noexcept {
    countMutex();
    return CV_NEXT(gWrLock, pthread_rwlock_wrlock)(l);
}

int pthread_rwlock_unlock(pthread_rwlock_t* l) noexcept {
    countMutex();
    return CV_NEXT(gRwUnlock, pthread_rwlock_unlock)(l);
}

int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
    countCondition();
    return CV_NEXT(gWait, pthread_cond_wait)(c, m);
}

int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m, const timespec* t) {
    countCondition();
    return CV_NEXT(gTimedWait, pthread_cond_timedwait)(c, m, t);
}

int pthread_cond_clockwait(pthread_cond_t* c, pthread_mutex_t* m, clockid_t clock, const timespec* t) {
    countCondition();
    return CV_NEXT(gClockWait, pthread_cond_clockwait)(c, m, clock, t);
}

int pthread_cond_signal(pthread_cond_t* c) noexcept {
    countCondition();
    return CV_NEXT(gSignal, pthread_cond_signal)(c);
}

int pthread_cond_broadcast(pthread_cond_t* c) noexcept {
    countCondition();
    return CV_NEXT(gBroadcast, pthread_cond_broadcast)(c);
}

} // extern "C"

// --- Allocations: interposed in plain builds; a sanitizer's hooks count them above --------------------

#if !CV_SANITIZER_OWNS_MALLOC

using cv::standin::countAllocation;
using cv::standin::countFree;

// The C library's own entry points, which the interposers forward to.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);
}

namespace {

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

} // extern "C"

#endif
