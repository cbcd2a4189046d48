#pragma once

#include "engine/model/document.h"

#include <cstdint>
#include <limits>
#include <span>
#include <unordered_set>
#include <vector>

namespace np::detail {

inline constexpr std::uint64_t kAllOnes = std::numeric_limits<std::uint64_t>::max();

inline std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) noexcept {
    return a > kAllOnes - b ? kAllOnes : a + b;
}

// Counts each distinct curve once across several note lists (the document and its history states).
class CurveCounter {
public:
    // Adds the bytes of a note vector (capacity, plus 64 when non-empty) and of every curve not seen
    // before (capacity plus 152 each). May throw std::bad_alloc.
    std::uint64_t addNotes(const std::vector<Note>& notes);

private:
    std::uint64_t addCurve(const SharedCurve& curve);
    std::unordered_set<const void*> seen_;
};

// Audio part of the estimate: channels*frames*4 + 264, 96 without audio, all ones when out of range.
std::uint64_t audioResidentBytes(const AudioBuffer* audio) noexcept;

// Pitch frames: capacity in bytes, plus 64 when non-empty.
std::uint64_t trackResidentBytes(const PitchTrack& track) noexcept;

} // namespace np::detail
