#pragma once

// The division of a document's notes into the units the render treats as one: chains of pitched,
// unstretched notes that follow one another closely in the source at the same timeline offset, which
// are pitch-shifted as one continuous span, and single notes (unpitched or stretched in time).

#include "engine/model/document.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace np {

// Pitch offset 0, drift scale 1, formant shift 0, gain 0 dB, not muted, and timeline start and length
// equal to the source span's.
bool noteUnedited(const Note& note) noexcept;

// One unit: `count` consecutive notes of RenderUnits::notes from `first`.
struct RenderUnit {
    std::size_t first = 0;
    std::size_t count = 1;
    bool chain = false; // a chain of pitched, unstretched notes; otherwise a single note
};

struct RenderUnits {
    std::vector<const Note*> notes; // the document's notes by source start (stable among equal starts)
    std::vector<RenderUnit> units;  // in that order

    std::span<const Note* const> notesOf(const RenderUnit& unit) const noexcept {
        return {notes.data() + unit.first, unit.count};
    }
    // Whether some note of the unit is edited (an unedited unit is left as the source copy holds it).
    bool edited(const RenderUnit& unit) const noexcept;
};

// A chain's source span: from its first note's source start to its last note's source end.
std::int64_t chainSpanStart(std::span<const Note* const> chain) noexcept;
std::int64_t chainSpanLength(std::span<const Note* const> chain) noexcept;

// Sorts the notes by source start and walks them: a pitched note whose timeline length equals its
// source length starts a chain; the next note joins while it is pitched and unstretched, starts at most
// 2 x hop samples after the previous chain note's source end (overlap allowed) and keeps its timeline
// offset (timeline start - source start). Every other note is a unit by itself. Throws
// std::length_error "Render chain is too long" when a chain's span exceeds 32 bits. The notes must have
// been validated (source start < source end). Allocates 8 bytes a note and 24 a unit.
RenderUnits groupRenderUnits(const Document& doc);

} // namespace np
