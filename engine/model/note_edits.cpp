// The elementary note edits of the edit session.

#include "engine/model/edit_session.h"
#include "engine/model/edit_session_apply.h"
#include "engine/model/note_index.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace np {
namespace {

__extension__ typedef __int128 Int128;

bool finite(double v) noexcept {
    return std::isfinite(v);
}

// start + delta without overflow: the sum saturates, and the clamp below brings it into range anyway.
std::int64_t saturatingSum(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    return sum;
}

} // namespace

EditSession::EditFields EditSession::fieldsOf(const Note& note) noexcept {
    return {note.start,        note.length, note.pitchOffset, note.driftScale,
            note.formantShift, note.gainDb, note.muted};
}

void EditSession::assign(Note& note, const EditFields& fields) noexcept {
    note.start = fields.start;
    note.length = fields.length;
    note.pitchOffset = fields.pitchOffset;
    note.driftScale = fields.driftScale;
    note.formantShift = fields.formantShift;
    note.gainDb = fields.gainDb;
    note.muted = fields.muted;
}

std::int64_t EditSession::timelineLimitFrames() const noexcept {
    if (!document_.audio)
        return 134217728;
    const std::int64_t channels = std::max<std::int64_t>(document_.audio->channels, 1);
    return 536870912 / (4 * channels);
}

bool EditSession::addPitchOffset(std::span<const std::uint32_t> ids, double semitones) {
    if (!finite(semitones))
        return false;
    return applyEdit(ids, [&](const Note& n) {
        auto f = fieldsOf(n);
        f.pitchOffset = std::clamp(n.pitchOffset + semitones, -24.0, 24.0);
        return f;
    });
}

bool EditSession::setDriftScale(std::span<const std::uint32_t> ids, double scale) {
    if (!finite(scale))
        return false;
    return applyEdit(ids, [&](const Note& n) {
        auto f = fieldsOf(n);
        f.driftScale = std::clamp(scale, 0.0, 2.0);
        return f;
    });
}

bool EditSession::addFormantShift(std::span<const std::uint32_t> ids, double semitones) {
    if (!finite(semitones))
        return false;
    return applyEdit(ids, [&](const Note& n) {
        auto f = fieldsOf(n);
        f.formantShift = std::clamp(n.formantShift + semitones, -12.0, 12.0);
        return f;
    });
}

bool EditSession::addGainDb(std::span<const std::uint32_t> ids, double db) {
    if (!finite(db))
        return false;
    return applyEdit(ids, [&](const Note& n) {
        auto f = fieldsOf(n);
        f.gainDb = std::clamp(n.gainDb + db, -60.0, 24.0);
        return f;
    });
}

bool EditSession::setMuted(std::span<const std::uint32_t> ids, bool muted) {
    return applyEdit(ids, [&](const Note& n) {
        auto f = fieldsOf(n);
        f.muted = muted;
        return f;
    });
}

std::int64_t EditSession::limitedMoveFrames(std::span<const std::uint32_t> ids,
                                            std::int64_t deltaFrames) const {
    const std::int64_t limit = timelineLimitFrames();
    const detail::NoteIndex index(document_.notes, ids);
    // Every note that lies on the timeline bounds the group's move, so that no note of it stops while
    // the others go on: the earliest start bounds a move back, the latest end a move forward.
    std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    std::int64_t highest = std::numeric_limits<std::int64_t>::max();
    for (const std::uint32_t id : ids) {
        const Note* n = index.find(document_.notes, id);
        if (n == nullptr || n->length < 0 || n->length > limit || n->start < 0 ||
            n->start > limit - n->length)
            continue; // unknown, or damaged: left to the clamp of each note
        lowest = std::max(lowest, -n->start);
        highest = std::min(highest, limit - n->length - n->start);
    }
    // Notes on the timeline span at most its length, so lowest <= 0 <= highest.
    return std::clamp(deltaFrames, lowest, highest);
}

bool EditSession::moveTime(std::span<const std::uint32_t> ids, std::int64_t deltaFrames) {
    const std::int64_t limit = timelineLimitFrames();
    const std::int64_t delta = limitedMoveFrames(ids, deltaFrames);
    return applyEdit(ids, [&](const Note& n) {
        auto f = fieldsOf(n);
        // Each note is still clamped: a damaged note off the timeline comes back onto it, and a note
        // longer than the timeline is pinned at 0.
        const std::int64_t latest = std::max<std::int64_t>(limit - n.length, 0);
        f.start = std::clamp<std::int64_t>(saturatingSum(n.start, delta), 0, latest);
        return f;
    });
}

bool EditSession::resizeNote(std::uint32_t id, std::int64_t newLength) {
    const std::int64_t limit = timelineLimitFrames();
    const std::uint32_t ids[] = {id};
    return applyEdit(std::span<const std::uint32_t>(ids), [&](const Note& n) {
        auto f = fieldsOf(n);
        // In 128 bits, so that neither the span of a damaged note nor eight times it can overflow.
        const Int128 span = Int128{n.sourceEnd} - n.sourceStart;
        const Int128 room = std::max<Int128>(Int128{limit} - n.start, 0);
        Int128 upper = std::min<Int128>(8 * span, room);
        if (upper < 2)
            upper = 1;
        const Int128 lower = std::min<Int128>(upper, std::max<Int128>(256, span / 8));
        f.length = static_cast<std::int64_t>(newLength < lower ? lower : std::min<Int128>(upper, newLength));
        return f;
    });
}

bool EditSession::snapToScale(std::span<const std::uint32_t> ids) {
    return applyEdit(ids, [&](const Note& n) {
        auto f = fieldsOf(n);
        const double target = nearestScaleDegree(n.pitch + n.pitchOffset, keyScale_, a4Hz_);
        f.pitchOffset = std::clamp(target - n.pitch, -24.0, 24.0);
        return f;
    });
}

} // namespace np
