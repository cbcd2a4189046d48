#pragma once

// The editor's key table: which command a key press runs when no overlay shows, as a pure function of the
// key, its modifiers and the editor's state, checked row by row in a fixed order. A key the table does
// not handle goes back to the host, so its own shortcuts keep working (Space for play, Ctrl+S to save).
// The key handler (key_handler.h) carries the command out. Main thread.
//
// Letters match on the first byte of the key's text, lower-cased, so a letter matches with or without
// Shift. The command modifier is Ctrl here (Command on macOS).

#include "framework/graphics/input.h"

#include <cstddef>
#include <cstdint>

namespace cv::ui {

enum class EditorKeyCommand {
    Unhandled,  // the host gets the key
    Ignored,    // consumed, nothing happens: an editing key while a mouse gesture is open
    NudgePitch, // the selection by semitones
    NudgeTime,  // the selection by frames
    Redo,
    Undo,
    SelectAll,
    Merge,
    SplitAtPlayhead,
    ZoomIn,  // ZoomTime(1 / 1.3)
    ZoomOut, // ZoomTime(1.3)
    Fit,
    OpenHelp,
    CancelBackgroundWork,
    LeaveSplitMode,
};

// What the table looks at besides the key.
struct EditorKeyState {
    bool canvas = false;           // the note canvas exists
    std::size_t selectedNotes = 0; // on the canvas
    bool gestureOpen = false;      // a mouse drag holds an edit-session gesture
    bool helpOverlay = false;      // the help overlay exists
    bool backgroundWork = false;   // a deferred action waits, a file job runs or the analysis is busy
    bool splitMode = false;        // the canvas's split mode is armed
    double documentRateHz = 0.0;   // the document's sample rate
};

struct EditorKeyAction {
    EditorKeyCommand command = EditorKeyCommand::Unhandled;
    double semitones = 0.0;  // NudgePitch: +-1, or +-0.1 with Alt
    std::int64_t frames = 0; // NudgeTime: +-trunc(0.01 x rate), or trunc(0.001 x rate) with Alt

    bool Handled() const { return command != EditorKeyCommand::Unhandled; }
};

// The table, first matching row wins:
//   Space                      -> Unhandled (the host plays or stops)
//   Up / Down                  with a selection: NudgePitch +-1 (Alt +-0.1)
//   Ctrl+Left / Ctrl+Right     with a selection: NudgeTime -+10 ms (Alt 1 ms) at the document's rate
//   Ctrl+Shift+Z, Ctrl+Z       Redo, Undo
//   Ctrl+A                     with the canvas: SelectAll
//   M, S                       Merge, SplitAtPlayhead (not with Ctrl: the host's own shortcuts)
//   Ctrl+= or Ctrl++, Ctrl+-   with the canvas: ZoomIn, ZoomOut
//   F                          with the canvas, not with Ctrl: Fit
//   ?                          with the help overlay: OpenHelp
//   Escape                     with background work: CancelBackgroundWork; else in split mode:
//                              LeaveSplitMode
//   anything else              Unhandled
// Nudges, undo, redo, merge and split are Ignored while a gesture is open: an undo would pop the drag's
// own state, and every nudge would join the drag and vanish with it if it is cancelled.
EditorKeyAction MapEditorKey(const iplug::IKeyPress& key, const EditorKeyState& state);

// The first byte of the key's text, lower-cased (0 for a key without text).
char KeyLetter(const iplug::IKeyPress& key);

} // namespace cv::ui
