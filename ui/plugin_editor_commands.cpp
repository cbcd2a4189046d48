// The inspector's and the key handler's side of the plug-in: its own commands, one call each.

#include "ui/editor_commands.h"

namespace cv::ui {
namespace {

class PluginEditorCommands final : public EditorCommands {
public:
    explicit PluginEditorCommands(Corvalinth& plugin) : mPlugin(plugin) {}

    np::EditSession& Session() override { return mPlugin.Session(); }
    void OnDocumentEdited() override { mPlugin.OnDocumentEdited(); }
    void ReportUiEditFailure(bool documentChanged) override { mPlugin.ReportUiEditFailure(documentChanged); }
    void Undo() override { mPlugin.Undo(); }
    void Redo() override { mPlugin.Redo(); }
    void SplitAtPlayhead() override { mPlugin.SplitAtPlayhead(); }
    void MergeSelection() override { mPlugin.MergeSelection(); }
    void ToggleSplitMode() override { mPlugin.ToggleSplitMode(); }
    void ApplyPitchMacro() override { mPlugin.ApplyPitchMacro(); }
    void ApplyTimeMacro() override { mPlugin.ApplyTimeMacro(); }
    void ApplyUnisonMacro() override { mPlugin.ApplyUnisonMacro(); }
    cv::MacroSettings& Macros() override { return mPlugin.Macros(); }
    bool BackgroundWorkCancellable() const override { return mPlugin.BackgroundWorkCancellable(); }
    void CancelBackgroundWork() override { mPlugin.CancelBackgroundWork(); }
    std::string TempoText() const override { return mPlugin.GetParam(cv::kParamTempo)->GetDisplay(); }

private:
    Corvalinth& mPlugin;
};

} // namespace

std::unique_ptr<EditorCommands> MakePluginEditorCommands(Corvalinth& plugin) {
    return std::make_unique<PluginEditorCommands>(plugin);
}

} // namespace cv::ui
