#pragma once

// The dry-run rule shared by every elementary and whole-selection note edit. Included only by the
// edit session's own source files.

#include "engine/model/edit_session.h"
#include "engine/model/note_index.h"

#include <algorithm>
#include <vector>

namespace np {

// Edit maps a note to its edited fields. Nothing is recorded unless some listed note would change;
// then one history state, the edit once on every listed note that exists (an id listed twice is still
// one note: an additive edit must not add twice), and a new content revision.
template <typename Edit>
bool EditSession::applyEdit(std::span<const std::uint32_t> ids, Edit edit) {
    const detail::NoteIndex index(document_.notes, ids);
    std::vector<Note*> targets;
    targets.reserve(ids.size());
    for (std::uint32_t id : ids)
        if (Note* note = index.find(document_.notes, id))
            targets.push_back(note);
    std::sort(targets.begin(), targets.end());
    targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
    if (std::none_of(targets.begin(), targets.end(),
                     [&](const Note* note) { return edit(*note) != fieldsOf(*note); }))
        return false;
    pushHistory(); // copies the notes; the targets stay valid
    for (Note* note : targets)
        assign(*note, edit(*note));
    markChanged();
    return true;
}

} // namespace np
