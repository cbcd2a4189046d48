#pragma once

#include "engine/model/document.h"

#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace np::detail {

// Finds the notes of an operation's id list. Few ids scan the notes (cheaper than building a map);
// many ids use an id-to-index map built once, so editing every note of a large document stays linear.
// Gives the same note as Document::findNote (ids are unique within a document). The index is valid
// only while the note vector keeps its size and order.
class NoteIndex {
public:
    NoteIndex(const std::vector<Note>& notes, std::span<const std::uint32_t> ids) {
        if (ids.size() > kScanLimit) {
            byId_.reserve(notes.size());
            for (std::size_t i = notes.size(); i-- > 0;)
                byId_[notes[i].id] = i; // reverse fill: the first note of an id wins, as in a scan
        }
    }

    template <typename Notes>
    auto* find(Notes& notes, std::uint32_t id) const noexcept {
        using Ptr = decltype(&notes[0]);
        if (byId_.empty()) {
            for (auto& note : notes)
                if (note.id == id)
                    return static_cast<Ptr>(&note);
            return static_cast<Ptr>(nullptr);
        }
        const auto it = byId_.find(id);
        return it == byId_.end() ? static_cast<Ptr>(nullptr) : &notes[it->second];
    }

private:
    static constexpr std::size_t kScanLimit = 4;
    std::unordered_map<std::uint32_t, std::size_t> byId_;
};

} // namespace np::detail
