// The editor's key table, one case per row and per condition that changes its answer.

#include "ui/editor_keys.h"

#include <gtest/gtest.h>

namespace cv::ui {
namespace {

using enum EditorKeyCommand;
using iplug::IKeyPress;

struct KeyCase {
    const char* name;
    IKeyPress key;
    EditorKeyState state;
    EditorKeyAction expected;
};

// The canvas with two selected notes of a 44.1 kHz document, nothing else going on.
EditorKeyState Editing() {
    EditorKeyState s;
    s.canvas = true;
    s.selectedNotes = 2;
    s.helpOverlay = true;
    s.documentRateHz = 44100.0;
    return s;
}
EditorKeyState With(void (*change)(EditorKeyState&)) {
    EditorKeyState s = Editing();
    change(s);
    return s;
}
const EditorKeyState kNoSelection = With([](EditorKeyState& s) { s.selectedNotes = 0; });
const EditorKeyState kNoCanvas = With([](EditorKeyState& s) { s = EditorKeyState{}; });
const EditorKeyState kDragging = With([](EditorKeyState& s) { s.gestureOpen = true; });
const EditorKeyState kSplit = With([](EditorKeyState& s) { s.splitMode = true; });
const EditorKeyState kBusySplit = With([](EditorKeyState& s) { s.splitMode = s.backgroundWork = true; });

IKeyPress Key(int vk, bool shift = false, bool cmd = false, bool alt = false) {
    return IKeyPress(nullptr, vk, shift, cmd, alt);
}
IKeyPress Text(const char* text, bool shift = false, bool cmd = false, bool alt = false) {
    return IKeyPress(text, 0, shift, cmd, alt);
}
EditorKeyAction Do(EditorKeyCommand c) {
    return {c, 0.0, 0};
}

const KeyCase kCases[] = {
    {"SpaceGoesToTheHost", IKeyPress(" ", iplug::kVK_SPACE), Editing(), Do(Unhandled)},
    {"UpRaisesBySemitone", Key(iplug::kVK_UP), Editing(), {NudgePitch, 1.0, 0}},
    {"DownLowersBySemitone", Key(iplug::kVK_DOWN), Editing(), {NudgePitch, -1.0, 0}},
    {"AltUpRaisesByATenth", Key(iplug::kVK_UP, false, false, true), Editing(), {NudgePitch, 0.1, 0}},
    {"UpWithoutSelectionFallsThrough", Key(iplug::kVK_UP), kNoSelection, Do(Unhandled)},
    {"UpDuringADragIsIgnored", Key(iplug::kVK_UP), kDragging, Do(Ignored)},
    {"CtrlRightMovesTenMs", Key(iplug::kVK_RIGHT, false, true), Editing(), {NudgeTime, 0.0, 441}},
    {"CtrlAltRightMovesOneMs", Key(iplug::kVK_RIGHT, false, true, true), Editing(), {NudgeTime, 0.0, 44}},
    {"CtrlLeftMovesBack", Key(iplug::kVK_LEFT, false, true), Editing(), {NudgeTime, 0.0, -441}},
    {"RightAloneIsTheHosts", Key(iplug::kVK_RIGHT), Editing(), Do(Unhandled)},
    {"CtrlRightWithoutSelectionFallsThrough", Key(iplug::kVK_RIGHT, false, true), kNoSelection,
     Do(Unhandled)},
    {"CtrlShiftZRedoes", Text("Z", true, true), Editing(), Do(Redo)},
    {"CtrlZUndoes", Text("z", false, true), kNoCanvas, Do(Undo)},
    {"CtrlZDuringADragIsIgnored", Text("z", false, true), kDragging, Do(Ignored)},
    {"ZAloneIsTheHosts", Text("z"), Editing(), Do(Unhandled)},
    {"CtrlASelectsAll", Text("a", false, true), kNoSelection, Do(SelectAll)},
    {"CtrlAWithoutCanvasIsTheHosts", Text("a", false, true), kNoCanvas, Do(Unhandled)},
    {"MMerges", Text("m"), Editing(), Do(Merge)},
    {"CtrlMIsTheHosts", Text("m", false, true), Editing(), Do(Unhandled)},
    {"MDuringADragIsIgnored", Text("m"), kDragging, Do(Ignored)},
    {"SSplits", Text("s"), kNoCanvas, Do(SplitAtPlayhead)},
    {"CtrlSIsTheHostsSave", Text("s", false, true), Editing(), Do(Unhandled)},
    {"CtrlEqualsZoomsIn", Text("=", false, true), Editing(), Do(ZoomIn)},
    {"CtrlPlusZoomsIn", Text("+", true, true), Editing(), Do(ZoomIn)},
    {"CtrlMinusZoomsOut", Text("-", false, true), Editing(), Do(ZoomOut)},
    {"FFits", Text("F", true), kNoSelection, Do(Fit)},
    {"CtrlFIsTheHostsFind", Text("f", false, true), Editing(), Do(Unhandled)},
    {"FWithoutCanvasIsTheHosts", Text("f"), kNoCanvas, Do(Unhandled)},
    {"QuestionMarkOpensHelp", Text("?", true), With([](EditorKeyState& s) { s.canvas = false; }),
     Do(OpenHelp)},
    {"QuestionMarkWithoutHelpIsTheHosts", Text("?", true), kNoCanvas, Do(Unhandled)},
    {"EscapeCancelsBackgroundWorkFirst", Key(iplug::kVK_ESCAPE), kBusySplit, Do(CancelBackgroundWork)},
    {"EscapeLeavesSplitMode", Key(iplug::kVK_ESCAPE), kSplit, Do(LeaveSplitMode)},
    {"EscapeWithNothingToDoIsTheHosts", Key(iplug::kVK_ESCAPE), Editing(), Do(Unhandled)},
    {"AnyOtherKeyIsTheHosts", Text("q"), Editing(), Do(Unhandled)},
};

class EditorKeyRow : public testing::TestWithParam<KeyCase> {};

TEST_P(EditorKeyRow, MapsAsTheTableSays) {
    const KeyCase& c = GetParam();
    const EditorKeyAction a = MapEditorKey(c.key, c.state);
    EXPECT_EQ(a.command, c.expected.command);
    EXPECT_DOUBLE_EQ(a.semitones, c.expected.semitones);
    EXPECT_EQ(a.frames, c.expected.frames);
}

INSTANTIATE_TEST_SUITE_P(EditorKeys, EditorKeyRow, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

} // namespace
} // namespace cv::ui
