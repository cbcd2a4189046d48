#pragma once

// What the inspector and the key handler reach of the plug-in: the edit session with the edited-document
// path and the failure report, the edit commands, the macros with their settings, the cancel action and
// the Tempo parameter's text. The plug-in's is made from the graphics context's delegate; tests pass
// their own. Main thread only.

#include "plugin/Corvalinth.h"

#include <memory>
#include <string>

namespace cv::ui {

class EditorCommands {
public:
    virtual ~EditorCommands() = default;
    virtual np::EditSession& Session() = 0;
    // After every successful edit: redraws, keeps the render going and, once no gesture is open,
    // publishes the state to the host.
    virtual void OnDocumentEdited() = 0;
    // After an edit failed and its gesture was cancelled: publishes what is left when the document had
    // changed, then the sticky error notice.
    virtual void ReportUiEditFailure(bool documentChanged) = 0;
    // The plug-in's commands; each carries its own failure handling.
    virtual void Undo() = 0;
    virtual void Redo() = 0;
    virtual void SplitAtPlayhead() = 0;
    virtual void MergeSelection() = 0;
    virtual void ToggleSplitMode() = 0;
    virtual void ApplyPitchMacro() = 0;
    virtual void ApplyTimeMacro() = 0;
    virtual void ApplyUnisonMacro() = 0;
    // The macros' settings (correction amount and flattening, quantize strength and grid), set by the
    // inspector's knobs and grid segments; plug-in settings, not edits, so they leave no undo step.
    virtual cv::MacroSettings& Macros() = 0;
    // Whether Escape has work to cancel: a deferred action waits, a file job runs or the analysis is busy.
    virtual bool BackgroundWorkCancellable() const = 0;
    virtual void CancelBackgroundWork() = 0;
    // The Tempo parameter's display text ("120.0").
    virtual std::string TempoText() const = 0;
};

// The plug-in's side.
std::unique_ptr<EditorCommands> MakePluginEditorCommands(Corvalinth& plugin);

} // namespace cv::ui
