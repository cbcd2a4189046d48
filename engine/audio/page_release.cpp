#include "engine/audio/page_release.h"

#include <sys/mman.h>
#include <unistd.h>

namespace np {

std::uintptr_t pageBytes() noexcept {
    static const auto bytes = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    return bytes;
}

float* releaseWholePages(float* begin, float* end) noexcept {
    const std::uintptr_t page = pageBytes();
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) / page * page;
    const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(end) / page * page;
    if (to <= from)
        return begin;
#ifdef MADV_DONTNEED
    ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
#endif
    return reinterpret_cast<float*>(to);
}

} // namespace np
