#pragma once

// The dry-run rule shared by every elementary and whole-selection note edit. Included only by the
// edit session's own source files.

#include "engine/model/edit_session.h"
#include "engine/model/note_index.h"

namespace np {

// Edit maps a note to its edited fields. Nothing is recorded unless some listed note would change;
// then one history state, the edit on every listed note that exists, and a new content revision.
template <typename Edit>
bool EditSession::applyEdit(std::span<const std::uint32_t> ids, Edit edit) {
    const detail::NoteIndex index(document_.notes, ids);
    bool wouldChange = false;
    for (std::uint32_t id : ids) {
        const Note* note = index.find(document_.notes, id);
        if (note != nullptr && edit(*note) != fieldsOf(*note)) {
            wouldChange = true;
            break;
        }
    }
    if (!wouldChange)
        return false;
    pushHistory();
    for (std::uint32_t id : ids)
        if (Note* note = index.find(document_.notes, id))
            assign(*note, edit(*note));
    markChanged();
    return true;
}

} // namespace np
