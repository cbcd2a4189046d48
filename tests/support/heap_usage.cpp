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

#include <cstdio>
#include <unistd.h>

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

std::uint64_t residentBytes() noexcept {
    // The second field of statm: resident pages.
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return 0;
    unsigned long long size = 0, resident = 0;
    const bool read = std::fscanf(statm, "%llu %llu", &size, &resident) == 2;
    std::fclose(statm);
    return read ? resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) : 0;
}

bool resetPeakResident() noexcept {
    // Writing 5 to clear_refs sets the high-water mark (VmHWM) to the resident size now.
    std::FILE* refs = std::fopen("/proc/self/clear_refs", "w");
    if (refs == nullptr)
        return false;
    const bool written = std::fputs("5", refs) >= 0;
    return std::fclose(refs) == 0 && written;
}

std::uint64_t peakResidentBytes() noexcept {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return 0;
    char line[256];
    unsigned long long kib = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr)
        found = std::sscanf(line, "VmHWM: %llu kB", &kib) == 1;
    std::fclose(status);
    return found ? kib * 1024 : 0;
}

} // namespace cvtest
