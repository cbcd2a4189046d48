#pragma once

// The bytes the process currently holds on the heap, for tests that bound an object's memory: take the
// difference around its construction. Counts malloc as well as operator new (libraries such as FFTW
// allocate with malloc), through glibc's statistics or, in sanitizer builds, the sanitizer's own.

#include <cstdint>

namespace cvtest {

std::uint64_t currentHeapBytes() noexcept;

// The bytes of the process's memory the system holds resident now, for tests of memory that is taken
// only when touched (the heap counts a mapped block whole). 0 where it cannot be read.
std::uint64_t residentBytes() noexcept;

// Starts the system's record of the most memory held resident at once afresh, from what is resident
// now; false where the system does not allow it. peakResidentBytes reads that record (0 where it cannot).
bool resetPeakResident() noexcept;
std::uint64_t peakResidentBytes() noexcept;

} // namespace cvtest
