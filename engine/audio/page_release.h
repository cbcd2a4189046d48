#pragma once

#include <cstdint>

namespace np {

// The system's memory page size in bytes, read once. Any thread; no allocation.
std::uintptr_t pageBytes() noexcept;

// Gives the whole memory pages inside [begin, end) back to the system, which supplies zeroed pages
// should they be touched again, so what is no longer needed of a large block stops costing memory
// before the block is freed. Returns where the pages given back end (end rounded down to a page), or
// begin when no whole page lies inside, for a next call to start at. Any thread; no allocation.
float* releaseWholePages(float* begin, float* end) noexcept;

} // namespace np
