// The plug-in's own edit commands, reached from buttons, shortcuts, the inspector and the canvas: undo,
// redo, split, merge and the three macros. Each goes through the edit session, ends in
// OnDocumentEdited only when something changed, and turns any exception into one failure notice.

#include "plugin/Corvalinth.h"

#include <algorithm>

namespace {

constexpr const char* kEditFailed = "Couldn't complete the edit. Save the project and try again.";
constexpr const char* kMergeTooLarge = "These notes are too large to merge.";

// The canvas's selection in ascending id order.
std::vector<std::uint32_t> sortedSelection(const cv::EditorControls& controls) {
    std::vector<std::uint32_t> ids = controls.CanvasSelection();
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace

template <class Command>
void Corvalinth::RunEditCommand(Command&& command) {
    const std::uint64_t before = session_.contentRevision();
    try {
        command();
    } catch (...) {
        session_.cancelGesture();
        ReportUiEditFailure(session_.contentRevision() != before);
    }
}

void Corvalinth::ReportUiEditFailure(bool documentChanged) {
    if (documentChanged) {
        try {
            OnDocumentEdited();
        } catch (...) {
            // The failure notice below is what the user needs; a second failure adds nothing.
        }
    }
    try {
        SetError(kEditFailed);
    } catch (...) {
        // Nothing more can be said.
    }
}

void Corvalinth::Undo() {
    RunEditCommand([this] {
        if (session_.undo())
            OnDocumentEdited();
    });
}

void Corvalinth::Redo() {
    RunEditCommand([this] {
        if (session_.redo())
            OnDocumentEdited();
    });
}

void Corvalinth::SplitAtPlayhead() {
    RunEditCommand([this] {
        cv::EditorControls* controls = Controls();
        const np::Document& doc = session_.document();
        if (controls == nullptr || !controls->HasCanvas() || doc.audio == nullptr)
            return;
        // The transport position of the editor's own player, which nothing advances in this system.
        const std::int64_t frame =
            EngineToDoc(static_cast<std::int64_t>(TransportSeconds() * EngineSampleRate()));
        const auto contains = [frame](const np::Note& note) {
            return note.start < frame && frame - note.start < note.length;
        };
        std::uint32_t id = 0;
        for (const std::uint32_t selected : sortedSelection(*controls)) {
            const np::Note* note = doc.findNote(selected);
            if (note != nullptr && contains(*note)) {
                id = selected;
                break;
            }
        }
        if (id == 0) {
            const auto it = std::find_if(doc.notes.begin(), doc.notes.end(), contains);
            if (it == doc.notes.end())
                return;
            id = it->id;
        }
        const std::uint32_t right = session_.splitNote(id, frame);
        if (right == 0)
            return;
        controls->SetCanvasSelection({id, right});
        controls->RedrawCanvas();
        OnDocumentEdited();
    });
}

void Corvalinth::ToggleSplitMode() {
    RunEditCommand([this] {
        cv::EditorControls* controls = Controls();
        if (controls == nullptr || !controls->HasCanvas() || session_.document().audio == nullptr)
            return;
        controls->SetCanvasSplitMode(!controls->CanvasSplitMode());
    });
}

void Corvalinth::MergeSelection() {
    RunEditCommand([this] {
        cv::EditorControls* controls = Controls();
        if (controls == nullptr || !controls->HasCanvas() || session_.document().audio == nullptr)
            return;
        const std::vector<std::uint32_t> selected = sortedSelection(*controls);
        if (selected.size() < 2)
            return;
        auto failure = np::EditSession::MergeNotesFailure::None;
        if (!session_.mergeNotes(selected, &failure)) {
            if (failure == np::EditSession::MergeNotesFailure::TooLarge ||
                failure == np::EditSession::MergeNotesFailure::OutOfMemory)
                SetError(kMergeTooLarge);
            return;
        }
        // The survivor is the note that starts earliest in the source, the lowest id among equals.
        const np::Note* survivor = nullptr;
        for (const std::uint32_t id : selected) {
            const np::Note* note = session_.document().findNote(id);
            if (note != nullptr && (survivor == nullptr || note->sourceStart < survivor->sourceStart))
                survivor = note;
        }
        if (survivor != nullptr) {
            controls->SetCanvasSelection({survivor->id});
            controls->RedrawCanvas();
        } else {
            controls->ClearCanvasSelection();
        }
        OnDocumentEdited();
    });
}

std::vector<std::uint32_t> Corvalinth::MacroTargets() {
    if (cv::EditorControls* controls = Controls(); controls != nullptr && controls->HasCanvas()) {
        if (std::vector<std::uint32_t> selected = sortedSelection(*controls); !selected.empty())
            return selected;
    }
    std::vector<std::uint32_t> all;
    all.reserve(session_.document().notes.size());
    for (const np::Note& note : session_.document().notes)
        all.push_back(note.id);
    return all;
}

void Corvalinth::ApplyPitchMacro() {
    RunEditCommand([this] {
        const std::vector<std::uint32_t> targets = MacroTargets();
        if (!targets.empty() &&
            session_.applyPitchCorrection(targets, macros_.correctionAmount, macros_.vibratoFlattening))
            OnDocumentEdited();
    });
}

void Corvalinth::ApplyTimeMacro() {
    RunEditCommand([this] {
        const std::vector<std::uint32_t> targets = MacroTargets();
        const std::int64_t grid = cv::quantizeGridSamples(GetParam(cv::kParamTempo)->Value(),
                                                          macros_.quantizeGridIndex, sourceRate_);
        if (!targets.empty() && session_.applyTimeQuantize(targets, grid, macros_.quantizeStrength))
            OnDocumentEdited();
    });
}

void Corvalinth::ApplyUnisonMacro() {
    RunEditCommand([this] {
        const std::vector<std::uint32_t> targets = MacroTargets();
        std::vector<double> pitches;
        for (const std::uint32_t id : targets)
            if (const np::Note* note = session_.document().findNote(id); note != nullptr && note->pitched)
                pitches.push_back(note->pitch + note->pitchOffset);
        const std::optional<double> target =
            cv::unisonTargetMidi(std::move(pitches), session_.keyScale(), session_.a4Hz());
        if (target && session_.applyUnison(targets, *target))
            OnDocumentEdited();
    });
}
