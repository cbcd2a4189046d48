#pragma once

// The plug-in's view of an open editor: finds the long-lived controls by tag on every call and does
// nothing for a control that is missing. Lives as long as the graphics context it looks into. Main thread.

#include "framework/graphics/igraphics.h"
#include "plugin/editor_controls.h"

namespace cv::ui {

class EditorControlsView : public cv::EditorControls {
public:
    explicit EditorControlsView(iplug::igraphics::IGraphics& g) : mG(g) {}

    bool HasNoticeLine() const override;
    std::optional<NoticeKind> ShownNotice() const override;
    void ShowNotice(const char* text, NoticeKind kind, int durationMs) override;
    void ShowProgress(const char* text, float fraction, bool cancellable) override;
    void DismissNotice() override;
    std::optional<std::size_t> SelectedNoteCount() const override;
    void ShowReadouts(const EditorReadouts& readouts) override;
    std::optional<EditorViewportState> CanvasViewport() const override;
    bool RestoreCanvasViewport(const EditorViewportState& state) override;
    void FitCanvasToDocument() override;
    void ShowFileText(const char* text) override;
    bool AskConfirmation(const std::string& title, const std::string& message,
                         const std::vector<std::string>& buttons, int cancelIndex,
                         std::function<void(int)> onResult) override;
    void ResetFileReadout(const char* text) override;
    bool HasCanvas() const override;
    std::vector<std::uint32_t> CanvasSelection() const override;
    void SetCanvasSelection(std::vector<std::uint32_t> ids) override;
    void ClearCanvasSelection() override;
    void RedrawCanvas() override;
    bool CanvasSplitMode() const override;
    void SetCanvasSplitMode(bool on) override;
    bool OpenMenuAtExportButton(iplug::igraphics::IPopupMenu& menu) override;
    void PromptForFile(const iplug::igraphics::FilePromptRequest& request,
                       iplug::igraphics::FilePromptCompletion completion) override;
    bool CopyToClipboard(const std::string& text) override;

private:
    iplug::igraphics::IGraphics& mG;
};

} // namespace cv::ui
