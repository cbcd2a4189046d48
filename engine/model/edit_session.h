#pragma once

#include "engine/model/document.h"
#include "engine/model/key_scale.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace np {

// Owns the document being edited, the key and scale, the A4 reference and the undo/redo history.
// Every change to the notes goes through one of its operations, each of which records at most one
// history state; a drag runs inside a gesture and becomes one undo step however many operations it
// performs. Main thread only.
//
// Counters: editCount rises on every completed change, undo, redo, cancelled changed gesture and new
// document (the plug-in stamps renders with it). contentRevision identifies the current notes: a new
// value on every change, the recorded value again after undo, redo or cancel. documentRevision changes
// only when a new document is set.
class EditSession {
public:
    struct HistoryState {
        std::vector<Note> notes;    // curves shared with the document, not copied
        std::uint64_t revision = 0; // contentRevision at capture
        std::uint64_t bytes = 0;    // estimate; all ones when counting failed
    };

    static constexpr std::size_t kMaxHistoryStates = 200;
    static constexpr std::uint64_t kHistoryBudgetBytes = 134217728; // 128 MiB for undo plus redo

    // --- Document, settings and counters -------------------------------------------------------
    const Document& document() const noexcept { return document_; }
    // Moves a new document in, empties the history and leaves any gesture.
    void setDocument(Document document);

    const KeyScale& keyScale() const noexcept { return keyScale_; }
    void setKeyScale(KeyScale keyScale) noexcept { keyScale_ = keyScale; }
    double a4Hz() const noexcept { return a4Hz_; }
    void setA4Hz(double a4Hz) noexcept { a4Hz_ = a4Hz; }

    std::uint64_t editCount() const noexcept { return editCount_; }
    std::uint64_t contentRevision() const noexcept { return contentRevision_; }
    std::uint64_t documentRevision() const noexcept { return documentRevision_; }
    bool inGesture() const noexcept { return inGesture_; }
    std::uint64_t historyBudgetBytes() const noexcept { return historyBudgetBytes_; }
    const std::vector<HistoryState>& undoStates() const noexcept { return undo_; }
    const std::vector<HistoryState>& redoStates() const noexcept { return redo_; }
    std::uint64_t undoBytes() const noexcept { return undoBytes_; }
    std::uint64_t redoBytes() const noexcept { return redoBytes_; }

    // --- Gestures and history --------------------------------------------------------------------
    // Opens a gesture; ignored while one is open.
    void beginGesture();
    // Closes the gesture and keeps its one undo step; returns whether it changed anything.
    bool endGesture();
    // Restores the notes and the redo stack from before the gesture (used when an edit throws).
    void cancelGesture();
    // Both return false and change nothing when there is nothing to restore or a gesture is open (an
    // undo inside a drag would otherwise be rolled back together with a cancelled drag).
    bool undo();
    bool redo();

    // Memory held by the document and the history, each shared curve counted once; saturating.
    std::uint64_t estimatedResidentBytes() const;

    // --- Note edits ------------------------------------------------------------------------------
    // Each makes a dry run first and records one history state only when some note would change;
    // unknown ids are skipped; a non-finite argument is a no-op. Each returns whether it changed
    // anything. Timeline positions are limited to the document's timeline limit (timelineLimitFrames).
    bool addPitchOffset(std::span<const std::uint32_t> ids, double semitones);
    bool setDriftScale(std::span<const std::uint32_t> ids, double scale);
    bool addFormantShift(std::span<const std::uint32_t> ids, double semitones);
    bool addGainDb(std::span<const std::uint32_t> ids, double db);
    bool setMuted(std::span<const std::uint32_t> ids, bool muted);
    // Moves the listed notes as one group by limitedMoveFrames(ids, deltaFrames), so that they keep
    // their spacing; each note is still kept on the timeline on its own.
    bool moveTime(std::span<const std::uint32_t> ids, std::int64_t deltaFrames);
    // The distance moveTime moves the listed notes by: deltaFrames limited so that the earliest of them
    // stops at 0 and the latest ends at the timeline limit. Notes already off the timeline (damaged, or
    // longer than it) and unknown ids limit nothing. For one note it is the note's own clamp.
    std::int64_t limitedMoveFrames(std::span<const std::uint32_t> ids, std::int64_t deltaFrames) const;
    // Stretches one note to newLength, within 1/8..8 times its source span (at least 256 samples)
    // and the timeline limit.
    bool resizeNote(std::uint32_t id, std::int64_t newLength);
    bool snapToScale(std::span<const std::uint32_t> ids);

    // --- Whole-selection operations (same dry-run rule) -------------------------------------------
    // Pulls pitched notes toward the nearest scale degree by amount (0..1) and sets their drift scale
    // to 1 - flatten (flatten below 0 leaves 1). Unpitched notes are untouched.
    bool applyPitchCorrection(std::span<const std::uint32_t> ids, double amount, double flatten);
    // Pulls note starts toward the nearest multiple of gridSamples by strength (0..1).
    bool applyTimeQuantize(std::span<const std::uint32_t> ids, std::int64_t gridSamples, double strength);
    // Gives every listed pitched note the sounding pitch targetMidi (within the offset range).
    bool applyUnison(std::span<const std::uint32_t> ids, double targetMidi);

    // --- Split and merge -------------------------------------------------------------------------
    enum class MergeNotesFailure : int { None = 0, NotMergeable = 1, TooLarge = 2, OutOfMemory = 3 };
    static constexpr std::size_t kMaxNotes = np::kMaxNotes;

    // Cuts a note in two at timeline position at; returns the new right-hand note's id, or 0 when
    // nothing was split (position outside the note, too short a source, the note limit, or pieces
    // whose pitch curves could not be stored).
    std::uint32_t splitNote(std::uint32_t id, std::int64_t at);
    // Joins the listed notes, which must follow one another in the source with no other note between
    // them, into the first of them. out (may be null) receives the reason; on failure nothing changes.
    bool mergeNotes(std::span<const std::uint32_t> ids, MergeNotesFailure* out);

    // Timeline limit in samples: 536870912 / (4 * channels) of the source audio, 134217728 without.
    std::int64_t timelineLimitFrames() const noexcept;

private:
    // The fields an elementary edit may change; a dry run compares them.
    struct EditFields {
        std::int64_t start = 0;
        std::int64_t length = 0;
        double pitchOffset = 0.0;
        double driftScale = 1.0;
        double formantShift = 0.0;
        double gainDb = 0.0;
        bool muted = false;
        bool operator==(const EditFields&) const = default;
    };
    static EditFields fieldsOf(const Note& note) noexcept;
    static void assign(Note& note, const EditFields& fields) noexcept;

    // Applies edit (Note -> EditFields) to the listed notes under the dry-run rule.
    template <typename Edit>
    bool applyEdit(std::span<const std::uint32_t> ids, Edit edit);

    HistoryState captureState() const;
    // Records the pre-change state; called after a dry run found a change and before anything is written.
    void pushHistory();
    // Marks a completed change: a new content revision.
    void markChanged() noexcept;
    // Undo and redo: the current notes go onto `to`, the newest state of `from` is restored.
    bool restoreFrom(std::vector<HistoryState>& from, std::uint64_t& fromBytes, std::vector<HistoryState>& to,
                     std::uint64_t& toBytes, void (EditSession::*trim)());
    void trimAfterEdit(); // rule A: oldest undo first, then oldest redo
    void trimAfterRedo(); // rule B: oldest redo first, then oldest undo
    bool overLimits() const noexcept;

    Document document_;
    KeyScale keyScale_;
    double a4Hz_ = 440.0;
    std::vector<HistoryState> undo_;
    std::vector<HistoryState> redo_;
    std::vector<HistoryState> parkedRedo_;
    std::optional<HistoryState> gestureOrigin_;
    bool inGesture_ = false;
    bool gestureChanged_ = false;
    std::uint64_t editCount_ = 0;
    std::uint64_t contentRevision_ = 0;
    std::uint64_t documentRevision_ = 0;
    std::uint64_t revisionCounter_ = 0;
    std::uint64_t undoBytes_ = 0;
    std::uint64_t redoBytes_ = 0;
    std::uint64_t parkedRedoBytes_ = 0;
    std::uint64_t historyBudgetBytes_ = kHistoryBudgetBytes;
};

} // namespace np
