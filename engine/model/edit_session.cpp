#include "engine/model/edit_session.h"

#include "engine/model/resident_bytes.h"

#include <algorithm>
#include <new>
#include <utility>

namespace np {

using detail::kAllOnes;
using detail::saturatingAdd;

namespace {

// Removes the oldest state of a stack and its bytes from the stack's sum.
void dropOldest(std::vector<EditSession::HistoryState>& stack, std::uint64_t& bytes) {
    bytes -= std::min(bytes, stack.front().bytes);
    stack.erase(stack.begin());
}

} // namespace

void EditSession::setDocument(Document document) {
    document_ = std::move(document);
    undo_.clear();
    redo_.clear();
    parkedRedo_.clear();
    undoBytes_ = redoBytes_ = parkedRedoBytes_ = 0;
    gestureOrigin_.reset();
    inGesture_ = false;
    gestureChanged_ = false;
    ++editCount_;
    contentRevision_ = documentRevision_ = ++revisionCounter_;
}

EditSession::HistoryState EditSession::captureState() const {
    HistoryState state;
    state.notes = document_.notes;
    state.revision = contentRevision_;
    try {
        detail::CurveCounter curves;
        state.bytes = saturatingAdd(104, curves.addNotes(state.notes));
    } catch (const std::bad_alloc&) {
        state.bytes = kAllOnes; // unknown size: treated as over budget, never kept
    }
    return state;
}

bool EditSession::overLimits() const noexcept {
    return undo_.size() + redo_.size() > kMaxHistoryStates ||
           saturatingAdd(undoBytes_, redoBytes_) > historyBudgetBytes_;
}

void EditSession::trimAfterEdit() {
    while (overLimits() && !(undo_.empty() && redo_.empty())) {
        if (!undo_.empty())
            dropOldest(undo_, undoBytes_);
        else
            dropOldest(redo_, redoBytes_);
    }
}

void EditSession::trimAfterRedo() {
    while (overLimits() && !(undo_.empty() && redo_.empty())) {
        if (!redo_.empty())
            dropOldest(redo_, redoBytes_);
        else
            dropOldest(undo_, undoBytes_);
    }
}

void EditSession::pushHistory() {
    if (inGesture_ && gestureChanged_)
        return; // one undo step per gesture
    // Everything that can throw (the copy, the reservation) happens before any stack changes.
    HistoryState state = captureState();
    const bool withinBudget = state.bytes <= historyBudgetBytes_;
    if (withinBudget)
        undo_.reserve(undo_.size() + 1);

    if (inGesture_) {
        // The redo stack is parked, not dropped: a cancelled gesture gives it back.
        parkedRedo_ = std::move(redo_);
        redo_.clear();
        parkedRedoBytes_ = std::exchange(redoBytes_, 0);
        if (withinBudget) {
            undoBytes_ = saturatingAdd(undoBytes_, state.bytes);
            undo_.push_back(std::move(state)); // trimmed when the gesture ends
        } else {
            gestureOrigin_ = std::move(state);
        }
        gestureChanged_ = true;
        return;
    }

    redo_.clear();
    redoBytes_ = 0;
    if (withinBudget) {
        undoBytes_ = saturatingAdd(undoBytes_, state.bytes);
        undo_.push_back(std::move(state));
        trimAfterEdit();
    } else {
        // A state larger than the whole budget is never kept, so this edit cannot be undone.
        undo_.clear();
        undoBytes_ = 0;
    }
}

void EditSession::markChanged() noexcept {
    ++editCount_;
    contentRevision_ = ++revisionCounter_;
}

void EditSession::beginGesture() {
    if (inGesture_)
        return;
    parkedRedo_.clear();
    parkedRedoBytes_ = 0;
    gestureOrigin_.reset();
    inGesture_ = true;
    gestureChanged_ = false;
}

bool EditSession::endGesture() {
    if (!inGesture_)
        return false;
    const bool changed = gestureChanged_;
    if (changed) {
        if (!gestureOrigin_) {
            trimAfterEdit();
        } else {
            // The pre-gesture state was too large to keep: the gesture cannot be undone, and older
            // states would undo onto notes that no longer follow from them.
            undo_.clear();
            undoBytes_ = 0;
        }
    }
    parkedRedo_.clear();
    parkedRedoBytes_ = 0;
    gestureOrigin_.reset();
    inGesture_ = false;
    gestureChanged_ = false;
    return changed;
}

void EditSession::cancelGesture() {
    if (!inGesture_)
        return;
    if (gestureChanged_) {
        std::optional<HistoryState> before;
        if (gestureOrigin_) {
            before = std::move(gestureOrigin_);
        } else if (!undo_.empty()) {
            before = std::move(undo_.back());
            undo_.pop_back();
            undoBytes_ -= std::min(undoBytes_, before->bytes);
        }
        if (before) {
            document_.notes = std::move(before->notes);
            contentRevision_ = before->revision;
            ++editCount_;
        }
        redo_ = std::move(parkedRedo_);
        redoBytes_ = parkedRedoBytes_;
    }
    parkedRedo_.clear();
    parkedRedoBytes_ = 0;
    gestureOrigin_.reset();
    inGesture_ = false;
    gestureChanged_ = false;
}

bool EditSession::undo() {
    return !inGesture_ && restoreFrom(undo_, undoBytes_, redo_, redoBytes_, &EditSession::trimAfterEdit);
}

bool EditSession::redo() {
    return !inGesture_ && restoreFrom(redo_, redoBytes_, undo_, undoBytes_, &EditSession::trimAfterRedo);
}

bool EditSession::restoreFrom(std::vector<HistoryState>& from, std::uint64_t& fromBytes,
                              std::vector<HistoryState>& to, std::uint64_t& toBytes,
                              void (EditSession::*trim)()) {
    if (from.empty())
        return false;
    HistoryState current = captureState();
    const bool keepCurrent = current.bytes <= historyBudgetBytes_;
    if (keepCurrent)
        to.reserve(to.size() + 1);

    HistoryState target = std::move(from.back());
    from.pop_back();
    fromBytes -= std::min(fromBytes, target.bytes);
    if (keepCurrent) {
        toBytes = saturatingAdd(toBytes, current.bytes);
        to.push_back(std::move(current));
        (this->*trim)();
    } else {
        // The current notes alone exceed the budget: the other direction cannot be kept at all.
        to.clear();
        toBytes = 0;
    }
    document_.notes = std::move(target.notes);
    contentRevision_ = target.revision;
    ++editCount_;
    return true;
}

std::uint64_t EditSession::estimatedResidentBytes() const {
    using namespace detail;
    try {
        const std::uint64_t audio = audioResidentBytes(document_.audio.get());
        if (audio == kAllOnes)
            return kAllOnes;
        CurveCounter curves; // one set: a curve shared by the document and any state counts once
        std::uint64_t bytes = saturatingAdd(audio, trackResidentBytes(document_.track));
        bytes = saturatingAdd(bytes, curves.addNotes(document_.notes));
        bytes = saturatingAdd(bytes, 304);
        constexpr std::uint64_t kStateEntryBytes = 40;
        for (const auto* stack : {&undo_, &redo_, &parkedRedo_}) {
            bytes = saturatingAdd(bytes, static_cast<std::uint64_t>(stack->capacity()) * kStateEntryBytes);
            for (const HistoryState& state : *stack)
                bytes = saturatingAdd(bytes, curves.addNotes(state.notes));
        }
        if (gestureOrigin_)
            bytes = saturatingAdd(bytes, curves.addNotes(gestureOrigin_->notes));
        return bytes;
    } catch (const std::bad_alloc&) {
        return kAllOnes;
    }
}

} // namespace np
