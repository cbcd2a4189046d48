#include "engine/render/render_units.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace np {
namespace {

bool unstretched(const Note& note) noexcept {
    return note.length == note.sourceEnd - note.sourceStart;
}

std::int64_t timelineOffset(const Note& note) noexcept {
    return note.start - note.sourceStart;
}

} // namespace

bool noteUnedited(const Note& note) noexcept {
    return note.pitchOffset == 0.0 && note.driftScale == 1.0 && note.formantShift == 0.0 &&
           note.gainDb == 0.0 && !note.muted && note.start == note.sourceStart && unstretched(note);
}

bool RenderUnits::edited(const RenderUnit& unit) const noexcept {
    const std::span<const Note* const> list = notesOf(unit);
    return std::any_of(list.begin(), list.end(), [](const Note* note) { return !noteUnedited(*note); });
}

std::int64_t chainSpanStart(std::span<const Note* const> chain) noexcept {
    return chain.front()->sourceStart;
}

std::int64_t chainSpanLength(std::span<const Note* const> chain) noexcept {
    return chain.back()->sourceEnd - chain.front()->sourceStart;
}

RenderUnits groupRenderUnits(const Document& doc) {
    RenderUnits result;
    result.notes.reserve(doc.notes.size());
    for (const Note& note : doc.notes)
        result.notes.push_back(&note);
    std::stable_sort(result.notes.begin(), result.notes.end(),
                     [](const Note* a, const Note* b) { return a->sourceStart < b->sourceStart; });

    const std::int64_t maxGap = 2 * static_cast<std::int64_t>(doc.track.hop);
    const std::vector<const Note*>& notes = result.notes;
    for (std::size_t i = 0; i < notes.size();) {
        RenderUnit unit;
        unit.first = i;
        const Note& head = *notes[i];
        unit.chain = head.pitched && unstretched(head);
        if (unit.chain) {
            while (i + unit.count < notes.size()) {
                const Note& previous = *notes[i + unit.count - 1];
                const Note& next = *notes[i + unit.count];
                if (!next.pitched || !unstretched(next) || next.sourceStart - previous.sourceEnd > maxGap ||
                    timelineOffset(next) != timelineOffset(previous))
                    break;
                ++unit.count;
            }
            if (chainSpanLength(result.notesOf(unit)) > std::numeric_limits<std::int32_t>::max())
                throw std::length_error("Render chain is too long");
        }
        result.units.push_back(unit);
        i += unit.count;
    }
    return result;
}

} // namespace np
