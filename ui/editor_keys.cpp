#include "ui/editor_keys.h"

#include <cctype>
#include <cmath>

namespace cv::ui {

using iplug::IKeyPress;

namespace {

EditorKeyAction Run(EditorKeyCommand command) {
    return {command, 0.0, 0};
}

// An editing command, or Ignored while a gesture holds the session.
EditorKeyAction Edit(const EditorKeyState& state, EditorKeyAction action) {
    return state.gestureOpen ? Run(EditorKeyCommand::Ignored) : action;
}

} // namespace

char KeyLetter(const IKeyPress& key) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(key.utf8[0])));
}

EditorKeyAction MapEditorKey(const IKeyPress& key, const EditorKeyState& state) {
    using enum EditorKeyCommand;
    const char letter = KeyLetter(key);
    const bool selection = state.canvas && state.selectedNotes > 0;

    if (key.VK == iplug::kVK_SPACE)
        return Run(Unhandled);
    if ((key.VK == iplug::kVK_UP || key.VK == iplug::kVK_DOWN) && selection) {
        const double step = key.A ? 0.1 : 1.0;
        return Edit(state, {NudgePitch, key.VK == iplug::kVK_UP ? step : -step, 0});
    }
    if (key.C && (key.VK == iplug::kVK_LEFT || key.VK == iplug::kVK_RIGHT) && selection) {
        const auto n = static_cast<std::int64_t>(std::trunc((key.A ? 0.001 : 0.01) * state.documentRateHz));
        return Edit(state, {NudgeTime, 0.0, key.VK == iplug::kVK_RIGHT ? n : -n});
    }
    if (key.C && letter == 'z')
        return Edit(state, Run(key.S ? Redo : Undo));
    if (key.C && letter == 'a' && state.canvas)
        return Run(SelectAll);
    // With Ctrl, M, S and F are the host's (save, minimise, find): reporting them handled would swallow
    // them while nothing happens here.
    if (letter == 'm' && !key.C)
        return Edit(state, Run(Merge));
    if (letter == 's' && !key.C)
        return Edit(state, Run(SplitAtPlayhead));
    if (key.C && (letter == '=' || letter == '+') && state.canvas)
        return Run(ZoomIn);
    if (key.C && letter == '-' && state.canvas)
        return Run(ZoomOut);
    if (letter == 'f' && !key.C && state.canvas)
        return Run(Fit);
    if (letter == '?' && state.helpOverlay)
        return Run(OpenHelp);
    if (key.VK == iplug::kVK_ESCAPE) {
        if (state.backgroundWork)
            return Run(CancelBackgroundWork);
        if (state.canvas && state.splitMode)
            return Run(LeaveSplitMode);
    }
    return Run(Unhandled);
}

} // namespace cv::ui
