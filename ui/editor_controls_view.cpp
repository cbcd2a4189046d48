#include "ui/editor_controls_view.h"

#include "framework/graphics/basic_controls.h"
#include "ui/editor_seams.h"
#include "ui/editor_tags.h"
#include "ui/header_controls.h"

namespace cv::ui {

using namespace iplug::igraphics;

bool EditorControlsView::HasNoticeLine() const {
    return FindSeam<NoticeSeam>(&mG, kTagNotice) != nullptr;
}

std::optional<NoticeKind> EditorControlsView::ShownNotice() const {
    const auto* notice = FindSeam<NoticeSeam>(&mG, kTagNotice);
    return notice ? notice->ShownKind() : std::nullopt;
}

void EditorControlsView::ShowNotice(const char* text, NoticeKind kind, int durationMs) {
    if (auto* notice = FindSeam<NoticeSeam>(&mG, kTagNotice))
        notice->Show(text, kind, durationMs);
}

void EditorControlsView::ShowProgress(const char* text, float fraction, bool cancellable) {
    if (auto* notice = FindSeam<NoticeSeam>(&mG, kTagNotice))
        notice->ShowProgress(text, fraction, cancellable);
}

void EditorControlsView::DismissNotice() {
    if (auto* notice = FindSeam<NoticeSeam>(&mG, kTagNotice))
        notice->Dismiss();
}

std::optional<std::size_t> EditorControlsView::SelectedNoteCount() const {
    const auto* canvas = FindSeam<CanvasSeam>(&mG, kTagCanvas);
    return canvas ? std::optional<std::size_t>(canvas->SelectionIds().size()) : std::nullopt;
}

void EditorControlsView::ShowReadouts(const EditorReadouts& r) {
    if (auto* canvas = FindSeam<CanvasSeam>(&mG, kTagCanvas))
        canvas->SetPlayheadDocFrame(r.playheadDocFrame);
    if (auto* file = dynamic_cast<FileReadout*>(mG.GetControlWithTag(kTagFile)))
        file->SetUnsaved(r.unsavedMark);
    if (auto* time = dynamic_cast<ITextControl*>(mG.GetControlWithTag(kTagTime)))
        time->SetStr(r.timeText.c_str());
    mG.ForControlInGroup(kGroupDoc, [&](IControl& c) { c.SetDisabled(r.documentEmpty); });
    mG.ForControlInGroup(kGroupZoom, [&](IControl& c) { c.Hide(r.documentEmpty); });
    if (auto* count = dynamic_cast<ITextControl*>(mG.GetControlWithTag(kTagNoteCount))) {
        count->SetStr(r.noteCountText.c_str());
        count->Hide(r.noteCountText.empty());
    }
    for (auto [tag, value] :
         {std::pair{kTagCapture, r.captureValue}, std::pair{kTagOriginal, r.originalValue}}) {
        if (IControl* c = mG.GetControlWithTag(tag); c && c->GetValue() != value)
            c->SetValue(value);
    }
}

std::optional<EditorViewportState> EditorControlsView::CanvasViewport() const {
    const auto* canvas = FindSeam<CanvasSeam>(&mG, kTagCanvas);
    return canvas ? std::optional<EditorViewportState>(canvas->ViewportState()) : std::nullopt;
}

bool EditorControlsView::RestoreCanvasViewport(const EditorViewportState& state) {
    auto* canvas = FindSeam<CanvasSeam>(&mG, kTagCanvas);
    return canvas && canvas->RestoreViewport(state);
}

void EditorControlsView::FitCanvasToDocument() {
    if (auto* canvas = FindSeam<CanvasSeam>(&mG, kTagCanvas))
        canvas->FitToDocument();
}

void EditorControlsView::ShowFileText(const char* text) {
    if (auto* file = dynamic_cast<ITextControl*>(mG.GetControlWithTag(kTagFile)))
        file->SetStr(text);
}

bool EditorControlsView::AskConfirmation(const std::string& title, const std::string& message,
                                         const std::vector<std::string>& buttons, int cancelIndex,
                                         std::function<void(int)> onResult) {
    auto* dialog = FindSeam<ConfirmSeam>(&mG, kTagConfirm);
    if (!dialog)
        return false;
    dialog->OpenModal(title, message, buttons, cancelIndex, std::move(onResult));
    return true;
}

void EditorControlsView::ResetFileReadout(const char* text) {
    if (auto* file = dynamic_cast<FileReadout*>(mG.GetControlWithTag(kTagFile))) {
        file->SetUnsaved(true); // ends a running "Saved" period
        file->SetUnsaved(false);
        file->SetSaving(false);
        file->SetStr(text);
    }
}

bool EditorControlsView::HasCanvas() const {
    return FindSeam<CanvasSeam>(&mG, kTagCanvas) != nullptr;
}

std::vector<std::uint32_t> EditorControlsView::CanvasSelection() const {
    const auto* canvas = FindSeam<CanvasSeam>(&mG, kTagCanvas);
    return canvas ? canvas->SelectionIds() : std::vector<std::uint32_t>{};
}

void EditorControlsView::SetCanvasSelection(std::vector<std::uint32_t> ids) {
    if (auto* canvas = FindSeam<CanvasSeam>(&mG, kTagCanvas))
        canvas->SetSelectionIds(ids);
}

void EditorControlsView::ClearCanvasSelection() {
    if (auto* canvas = FindSeam<CanvasSeam>(&mG, kTagCanvas))
        canvas->ClearSelection();
}

void EditorControlsView::RedrawCanvas() {
    if (IControl* canvas = mG.GetControlWithTag(kTagCanvas))
        canvas->SetDirty(false);
}

bool EditorControlsView::CanvasSplitMode() const {
    const auto* canvas = FindSeam<CanvasSeam>(&mG, kTagCanvas);
    return canvas && canvas->SplitMode();
}

void EditorControlsView::SetCanvasSplitMode(bool on) {
    auto* canvas = FindSeam<CanvasSeam>(&mG, kTagCanvas);
    if (canvas == nullptr)
        return;
    canvas->SetSplitMode(on);
    if (IControl* button = mG.GetControlWithTag(kTagSplit))
        button->SetDirty(false);
}

bool EditorControlsView::OpenMenuAtExportButton(IPopupMenu& menu) {
    IControl* button = mG.GetControlWithTag(kTagExport);
    if (!button)
        return false;
    mG.CreatePopupMenu(button, menu, button->GetRECT());
    return true;
}

void EditorControlsView::PromptForFile(const FilePromptRequest& request, FilePromptCompletion completion) {
    mG.PromptForFile(request, std::move(completion));
}

bool EditorControlsView::CopyToClipboard(const std::string& text) {
    return mG.SetTextInClipboard(text);
}

} // namespace cv::ui
