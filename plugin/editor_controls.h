#pragma once

// What the plug-in reaches of its open editor. The shell finds long-lived controls by tag (0 canvas,
// 1 time readout, 2 file readout, 5 Capture, 6 Original, 8 note-count text, 13 inspector, 17 notice
// line) and never holds them; the editor implements this view over those controls, and the plug-in
// asks for it anew on every use (null while no editor is open), so every control access is
// null-checked by construction.
//
// Threads: main thread only.

#include "framework/graphics/platform.h"
#include "framework/graphics/popup_menu.h"
#include "plugin/editor_viewport.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cv {

// The kinds of the notice line, with the display times the plug-in uses.
enum class NoticeKind : int {
    Status = 0,   // 4000 ms
    Success = 1,  // 4000 ms
    Warning = 2,  // 8000 ms
    Error = 3,    // stays until dismissed
    Progress = 4, // stays until replaced or dismissed
};

inline constexpr int kStatusNoticeMs = 4000;
inline constexpr int kSuccessNoticeMs = 4000;
inline constexpr int kWarningNoticeMs = 8000;
inline constexpr int kStickyNoticeMs = 0;

// The readouts the idle loop refreshes on every tick with the editor open.
struct EditorReadouts {
    std::int64_t playheadDocFrame = 0; // canvas (tag 0)
    std::string timeText;              // time readout (tag 1), "%02d:%02d.%02d"
    bool unsavedMark = false;          // file readout (tag 2)
    bool documentEmpty = true;         // group "doc" disabled and group "zoom" hidden while empty
    std::string noteCountText;         // tag 8; empty while the document is empty
    double captureValue = 0.0;         // Capture button (tag 5): 1 while armed or recording
    double originalValue = 0.0;        // Original button (tag 6): 1 while compare is on
};

// The time readout of a transport position: "%02d:%02d.%02d" of minutes, seconds and hundredths, each
// truncated (a negative or non-finite position shows "00:00.00").
std::string formatTimeReadout(double seconds);
// "%zu notes", or "%zu notes · %zu selected" when some notes are selected.
std::string formatNoteCount(std::size_t notes, std::optional<std::size_t> selected);

class EditorControls {
public:
    virtual ~EditorControls() = default;

    // The notice line (tag 17). Every notice call below does nothing without it.
    virtual bool HasNoticeLine() const = 0;
    // The kind the notice line shows, or empty while it is hidden.
    virtual std::optional<NoticeKind> ShownNotice() const = 0;
    // Shows a status, success, warning or error notice for durationMs (below 1: until dismissed).
    virtual void ShowNotice(const char* text, NoticeKind kind, int durationMs) = 0;
    // Shows the progress notice (fraction 0..1), parking a status, success or warning notice to come
    // back after it.
    virtual void ShowProgress(const char* text, float fraction, bool cancellable) = 0;
    // Ends the current notice: the parked one returns, or the line hides.
    virtual void DismissNotice() = 0;

    // The canvas's selected-note count, or empty without a canvas.
    virtual std::optional<std::size_t> SelectedNoteCount() const = 0;
    // Sets every readout control that exists; each changes (and redraws) only when its state differs.
    // The inspector (tag 13) needs nothing: it redraws when what it shows changes.
    virtual void ShowReadouts(const EditorReadouts& readouts) = 0;

    // The note canvas's view (tag 0): empty without a canvas. Restoring returns false, changing nothing,
    // when the canvas refuses the state (a value that is not finite) or is missing.
    virtual std::optional<EditorViewportState> CanvasViewport() const { return std::nullopt; }
    virtual bool RestoreCanvasViewport(const EditorViewportState&) { return false; }
    virtual void FitCanvasToDocument() {}

    // The file readout's text (tag 2): a display name, optionally followed by "  —  " and details.
    virtual void ShowFileText(const char* text) { (void)text; }
    // Asks with the confirmation dialog (tag 18); onResult later gets the chosen button's index, the
    // cancel index when dismissed. False, and no call, when the dialog does not exist.
    virtual bool AskConfirmation(const std::string& title, const std::string& message,
                                 const std::vector<std::string>& buttons, int cancelIndex,
                                 std::function<void(int)> onResult) {
        (void)title, (void)message, (void)buttons, (void)cancelIndex, (void)onResult;
        return false;
    }

    // --- What the capture, analysis and edit commands reach besides the above. Each default stands for
    //     the control being absent.

    // The file readout (tag 2): stops its animation, clears its unsaved, just-saved and saving marks and
    // shows text.
    virtual void ResetFileReadout(const char* text) { ShowFileText(text); }

    // Without a canvas: no selection, no split mode, and every call below does nothing.
    virtual bool HasCanvas() const { return false; }
    // The selected note ids in ascending order.
    virtual std::vector<std::uint32_t> CanvasSelection() const { return {}; }
    virtual void SetCanvasSelection(std::vector<std::uint32_t>) {}
    virtual void ClearCanvasSelection() {}
    virtual void RedrawCanvas() {}
    virtual bool CanvasSplitMode() const { return false; }
    // Leaving split mode sets the canvas's hover cut position to -1; redraws the canvas and the split
    // button (tag 15).
    virtual void SetCanvasSplitMode(bool) {}
    // --- The editor's services, reached through the framework's graphics context.

    // Opens menu at the Export button (tag 14); the menu's function gets the choice later (or nullptr
    // when it was dismissed). False, and nothing opens, when the button does not exist. The menu must
    // outlive the editor.
    virtual bool OpenMenuAtExportButton(iplug::igraphics::IPopupMenu& menu) {
        (void)menu;
        return false;
    }
    // Starts the save-file prompt; completion runs later on the main thread with the chosen path, or an
    // empty one when the user cancelled or no prompt can show.
    virtual void PromptForFile(const iplug::igraphics::FilePromptRequest& request,
                               iplug::igraphics::FilePromptCompletion completion) {
        (void)request;
        if (completion)
            completion({});
    }
    // Puts text on the system clipboard; false when the clipboard refused it.
    virtual bool CopyToClipboard(const std::string& text) {
        (void)text;
        return false;
    }
};

} // namespace cv
