// Splitting one note in two and merging notes that follow one another in the source.

#include "engine/model/edit_session.h"
#include "engine/model/note_index.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace np {
namespace {

constexpr std::int64_t kMaxMergedCurveValues = 67108864;

__extension__ typedef __int128 Int128;

std::int64_t curveHop(const PitchTrack& track) noexcept {
    return track.hop < 2 ? 1 : track.hop;
}

// The upper-middle median: the value that would stand at index size/2 if the values were sorted.
float upperMedian(std::vector<float> values) {
    const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

bool storableCents(float v) noexcept {
    return std::isfinite(v) && v >= -kMaxNoteCurveCents && v <= kMaxNoteCurveCents;
}

bool storablePitch(double p) noexcept {
    return std::isfinite(p) && p >= kMinNotePitch && p <= kMaxNotePitch;
}

// Re-centres one piece of a split pitch curve on its own median and moves the piece's base pitch by
// the same amount, so each piece keeps its sound but gets its own base pitch. False when the result
// could not be stored in a project (the pieces of a wide glide can spread beyond the curve range).
bool recentre(std::vector<float>& curve, double& pitch) {
    const float median = upperMedian(curve);
    for (float& v : curve) {
        v -= median;
        if (!storableCents(v))
            return false;
    }
    pitch += static_cast<double>(median) / 100.0;
    return storablePitch(pitch);
}

} // namespace

std::uint32_t EditSession::splitNote(std::uint32_t id, std::int64_t at) {
    auto& notes = document_.notes;
    if (notes.size() >= kMaxNotes || document_.nextNoteId == std::numeric_limits<std::uint32_t>::max())
        return 0;
    const auto it = std::find_if(notes.begin(), notes.end(), [&](const Note& n) { return n.id == id; });
    if (it == notes.end())
        return 0;
    const Note& note = *it;
    std::int64_t end = 0;
    std::int64_t span = 0;
    if (__builtin_add_overflow(note.start, note.length, &end) ||
        __builtin_sub_overflow(note.sourceEnd, note.sourceStart, &span))
        return 0;
    if (!(note.start < at && at < end) || span <= 0)
        return 0;

    // Source cut (at - start) / length x span, truncated toward zero, computed exactly: the product is
    // formed first in 128 bits (dividing first loses the exact cuts, 1 / 4000 x 4000 truncating to 0),
    // and neither a double nor every target's long double holds it. As at - start < length, the cut is
    // below the span and fits 64 bits.
    const auto c = static_cast<std::int64_t>(static_cast<Int128>(at - note.start) * span / note.length);
    if (c < 1)
        return 0;
    Note left = note;
    left.sourceEnd = note.sourceStart + c;
    left.length = at - note.start;
    Note right = note;
    right.id = document_.nextNoteId;
    right.sourceStart = note.sourceStart + c;
    right.start = at;
    right.length = end - at;

    const std::int64_t k = c / curveHop(document_.track);
    const auto cutIndex = [&](std::size_t count) {
        return k == 0 ? std::size_t{1} : std::min(count - 1, static_cast<std::size_t>(k));
    };
    if (note.pitchCurve && note.pitchCurve->size() >= 2) {
        const auto& values = *note.pitchCurve;
        const auto m = static_cast<std::ptrdiff_t>(cutIndex(values.size()));
        std::vector<float> a(values.begin(), values.begin() + m);
        std::vector<float> b(values.begin() + m, values.end());
        if (!recentre(a, left.pitch) || !recentre(b, right.pitch))
            return 0;
        left.pitchCurve = std::make_shared<const std::vector<float>>(std::move(a));
        right.pitchCurve = std::make_shared<const std::vector<float>>(std::move(b));
    }
    if (note.levelCurve && note.levelCurve->size() >= 2) {
        const auto& values = *note.levelCurve;
        const auto m = static_cast<std::ptrdiff_t>(cutIndex(values.size()));
        left.levelCurve = std::make_shared<const std::vector<float>>(values.begin(), values.begin() + m);
        right.levelCurve = std::make_shared<const std::vector<float>>(values.begin() + m, values.end());
    }

    // Reserve before recording, so nothing after the history state can fail.
    const auto index = it - notes.begin();
    notes.reserve(notes.size() + 1);
    pushHistory();
    // The right piece goes straight after the left one: after moves the list need not be sorted by
    // start, so a search on starts would be meaningless.
    notes[static_cast<std::size_t>(index)] = std::move(left);
    notes.insert(notes.begin() + index + 1, std::move(right));
    const std::uint32_t newId = document_.nextNoteId;
    document_.nextNoteId = newId + 1;
    markChanged();
    return newId;
}

bool EditSession::mergeNotes(std::span<const std::uint32_t> ids, MergeNotesFailure* out) {
    MergeNotesFailure reason = MergeNotesFailure::NotMergeable;
    const auto finish = [&](bool merged) {
        if (out != nullptr)
            *out = reason;
        return merged;
    };
    auto& notes = document_.notes;
    try {
        // The listed notes that exist, each once.
        const detail::NoteIndex index(notes, ids);
        std::vector<bool> listed(notes.size(), false);
        std::vector<std::size_t> chosen;
        for (std::uint32_t id : ids) {
            if (const Note* n = index.find(std::as_const(notes), id)) {
                const auto i = static_cast<std::size_t>(n - notes.data());
                if (!listed[i]) {
                    listed[i] = true;
                    chosen.push_back(i);
                }
            }
        }
        if (chosen.size() < 2)
            return finish(false);
        std::stable_sort(chosen.begin(), chosen.end(), [&](std::size_t a, std::size_t b) {
            return notes[a].sourceStart < notes[b].sourceStart;
        });
        for (std::size_t j = 1; j < chosen.size(); ++j)
            if (notes[chosen[j]].sourceStart < notes[chosen[j - 1]].sourceEnd)
                return finish(false);

        const Note& first = notes[chosen.front()];
        const std::int64_t spanStart = first.sourceStart;
        const std::int64_t spanEnd = notes[chosen.back()].sourceEnd;
        for (std::size_t i = 0; i < notes.size(); ++i)
            if (!listed[i] && notes[i].sourceStart < spanEnd && notes[i].sourceEnd > spanStart)
                return finish(false);

        const std::int64_t hop = curveHop(document_.track);
        std::int64_t spanLength = 0;
        if (__builtin_sub_overflow(spanEnd, spanStart, &spanLength) || spanLength < 0)
            return finish(false);
        const std::int64_t count = spanLength / hop;
        if (count > kMaxMergedCurveValues) {
            reason = MergeNotesFailure::TooLarge;
            return finish(false);
        }

        std::vector<float> pitchCurve(static_cast<std::size_t>(count), 0.0f);
        std::vector<float> levelCurve(static_cast<std::size_t>(count), 0.0f);
        for (std::size_t i : chosen) {
            const Note& n = notes[i];
            const std::int64_t offset = (n.sourceStart - spanStart) / hop;
            const std::int64_t values =
                offset > count ? 0 : std::min((n.sourceEnd - n.sourceStart) / hop, count - offset);
            const auto semitones = static_cast<float>((n.pitch - first.pitch) * 100.0);
            for (std::int64_t v = 0; v < values; ++v) {
                const auto at = static_cast<std::size_t>(offset + v);
                const auto src = static_cast<std::size_t>(v);
                const float cents = n.pitchCurve && src < n.pitchCurve->size() ? (*n.pitchCurve)[src] : 0.0f;
                pitchCurve[at] = cents + semitones;
                levelCurve[at] = n.levelCurve && src < n.levelCurve->size() ? (*n.levelCurve)[src] : 0.0f;
            }
        }
        // Notes far apart in pitch would give a curve the project cannot store: refuse rather than
        // leave a session that can no longer be saved.
        if (!std::all_of(pitchCurve.begin(), pitchCurve.end(), storableCents)) {
            reason = MergeNotesFailure::TooLarge;
            return finish(false);
        }
        auto mergedPitch = std::make_shared<const std::vector<float>>(std::move(pitchCurve));
        auto mergedLevel = std::make_shared<const std::vector<float>>(std::move(levelCurve));

        pushHistory();
        Note& survivor = notes[chosen.front()];
        survivor.sourceEnd = spanEnd;
        survivor.length = spanLength; // the stretch is reset
        // The un-stretched note may now reach past the end of the timeline, which no project can
        // store: pull it back as a move would.
        survivor.start = std::clamp<std::int64_t>(
            survivor.start, 0, std::max<std::int64_t>(timelineLimitFrames() - spanLength, 0));
        survivor.pitchCurve = std::move(mergedPitch);
        survivor.levelCurve = std::move(mergedLevel);
        listed[chosen.front()] = false;
        std::size_t write = 0;
        for (std::size_t i = 0; i < notes.size(); ++i)
            if (!listed[i])
                notes[write++] = std::move(notes[i]);
        notes.erase(notes.begin() + static_cast<std::ptrdiff_t>(write), notes.end());
        markChanged();
        reason = MergeNotesFailure::None;
        return finish(true);
    } catch (const std::length_error&) {
        reason = MergeNotesFailure::TooLarge;
    } catch (const std::bad_alloc&) {
        reason = MergeNotesFailure::OutOfMemory;
    }
    return finish(false);
}

} // namespace np
