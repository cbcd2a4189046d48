#include "tests/support/heap_usage.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CV_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CV_SANITIZER_HEAP 1
#endif
#endif

#ifdef CV_SANITIZER_HEAP
#include <sanitizer/allocator_interface.h>
#else
#include <malloc.h>
#endif

namespace cvtest {

std::uint64_t currentHeapBytes() noexcept {
#ifdef CV_SANITIZER_HEAP
    return __sanitizer_get_current_allocated_bytes();
#else
    // In-use bytes of the main arena plus the large blocks glibc maps on their own.
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

} // namespace cvtest
