// The key handler in the whole editor of a plug-in in the stand-in host: overlays take every key first
// (what each does with them is in its own tests), keyboard edits are one undo step each at the document's
// rate, keys the editor leaves go to the host, and editing keys wait while a mouse drag is open. The
// table itself is editor_keys_test.cpp.

#include "tests/ui/canvas_fixture.h"
#include "ui/confirm_overlay.h"
#include "ui/edit_boundary.h"
#include "ui/editor_tags.h"
#include "ui/key_handler.h"

#include <algorithm>
#include <stdexcept>

namespace cv::ui {
namespace {

using iplug::IKeyPress;

IKeyPress Key(int vk, bool shift = false, bool cmd = false, bool alt = false) {
    return IKeyPress(nullptr, vk, shift, cmd, alt);
}
IKeyPress Text(const char* text, bool cmd = false) {
    return IKeyPress(text, 0, false, cmd, false);
}

// Note 1 spans x 253.5..347.25 at y 474 (pitch 60); note 2 x 441..534.75 at y 418 (pitch 64); 44.1 kHz.
np::Document TwoNotes() {
    np::Document doc = cvtest::CanvasDocument({{48000, 24000, 60.0}, {96000, 24000, 64.0}});
    doc.sampleRate = 44100.0;
    return doc;
}

TEST(EditorKeyHandler, NudgesMoveTheSelectionInOneStepAtTheDocumentsRate) {
    cvtest::PluginCanvasRig rig(TwoNotes());
    rig.view->SetSelectionIds({1, 2});
    const int told = rig.host->stateChangeCount();

    EXPECT_TRUE(rig.driver->KeyDown(Key(iplug::kVK_UP, false, false, true)));
    EXPECT_DOUBLE_EQ(rig.Note(1).pitchOffset, 0.1);
    EXPECT_DOUBLE_EQ(rig.Note(2).pitchOffset, 0.1);
    EXPECT_EQ(rig.Session().undoStates().size(), 1u);
    EXPECT_EQ(rig.host->stateChangeCount(), told + 1);

    EXPECT_TRUE(rig.driver->KeyDown(Key(iplug::kVK_RIGHT, false, true)));
    EXPECT_EQ(rig.Note(1).start, 48000 + 441);
    EXPECT_TRUE(rig.driver->KeyDown(Key(iplug::kVK_RIGHT, false, true, true)));
    EXPECT_EQ(rig.Note(2).start, 96000 + 441 + 44);
    EXPECT_EQ(rig.Session().undoStates().size(), 3u);

    EXPECT_TRUE(rig.driver->KeyDown(Text("z", true)));
    EXPECT_EQ(rig.Note(2).start, 96000 + 441);
    EXPECT_TRUE(rig.driver->KeyDown(IKeyPress("Z", 0, true, true)));
    EXPECT_EQ(rig.Note(2).start, 96000 + 441 + 44);
    EXPECT_FALSE(rig.driver->KeyUp(Text("z", true))); // a key-up is never the editor's
}

TEST(EditorKeyHandler, AnOpenConfirmationTakesEveryKey) {
    cvtest::PluginCanvasRig rig(TwoNotes());
    rig.view->SetSelectionIds({1});
    ASSERT_TRUE(rig.driver->KeyDown(Key(iplug::kVK_DOWN)));
    auto* dialog = dynamic_cast<ConfirmOverlay*>(rig.g->GetControlWithTag(kTagConfirm));
    ASSERT_NE(dialog, nullptr);
    std::vector<int> answers;
    dialog->OpenModal("Replace capture?", "Replace the capture and its edits?", {"Replace", "Keep", "Cancel"},
                      2, [&](int i) { answers.push_back(i); });

    // Ctrl+Z, Up and Space reach nothing behind the dialog, and Space answers nothing.
    for (const IKeyPress& key : {Text("z", true), Key(iplug::kVK_UP), IKeyPress(" ", iplug::kVK_SPACE)})
        EXPECT_TRUE(rig.driver->KeyDown(key));
    EXPECT_DOUBLE_EQ(rig.Note(1).pitchOffset, -1.0);
    EXPECT_TRUE(answers.empty());

    EXPECT_TRUE(rig.driver->KeyDown(Key(iplug::kVK_ESCAPE)));
    EXPECT_EQ(answers, std::vector<int>{2});

    // Closed, the keys reach the editor again.
    EXPECT_TRUE(rig.driver->KeyDown(Text("z", true)));
    EXPECT_DOUBLE_EQ(rig.Note(1).pitchOffset, 0.0);
}

TEST(EditorKeyHandler, CanvasAndHelpKeysReachTheirControlsAndCtrlFStaysTheHosts) {
    cvtest::PluginCanvasRig rig(TwoNotes());
    rig.view->SetSelectionIds({1});
    EXPECT_FALSE(rig.driver->KeyDown(Text("f", true)));
    EXPECT_FALSE(rig.driver->KeyDown(Key(iplug::kVK_ESCAPE)));
    EXPECT_EQ(rig.view->SelectionIds(), std::vector<std::uint32_t>{1}); // nothing was fitted
    EXPECT_TRUE(rig.driver->KeyDown(Text("f")));
    EXPECT_TRUE(rig.view->SelectionIds().empty()); // fitting empties the selection
    EXPECT_TRUE(rig.driver->KeyDown(Text("a", true)));
    EXPECT_EQ(rig.view->SelectionIds(), (std::vector<std::uint32_t>{1, 2}));
    rig.view->SetSplitMode(true);
    EXPECT_TRUE(rig.driver->KeyDown(Key(iplug::kVK_ESCAPE)));
    EXPECT_FALSE(rig.view->SplitMode());
    EXPECT_TRUE(rig.driver->KeyDown(Text("?")));
    EXPECT_FALSE(rig.g->GetControlWithTag(kTagHelp)->IsHidden());
}

TEST(EditorKeyHandler, ZoomKeysAndButtonsZoomTimeWithinItsLimitsAndFitShowsEverything) {
    cvtest::PluginCanvasRig rig(TwoNotes());
    auto framesPerPixel = [&] { return rig.view->ViewportState().framesPerPixel; };
    ASSERT_TRUE(rig.driver->KeyDown(Text("f")));
    const double fitted = framesPerPixel();
    const float middle = rig.view->CanvasRect().MW();
    const struct {
        const char* what;
        IKeyPress key; // or, with a null key text, a click on the button at x
        float buttonX;
        int times;
        double factor; // of each press, within 8..65536
    } rows[] = {
        {"Ctrl+= zooms in", Text("=", true), 0, 1, 1 / 1.3},
        {"Ctrl++ zooms in", IKeyPress("+", 0, true, true, false), 0, 1, 1 / 1.3},
        {"Ctrl+- zooms out", Text("-", true), 0, 1, 1.3},
        {"the zoom-in button", IKeyPress("", 0), 1197, 1, 1 / 1.3},
        {"the zoom-out button", IKeyPress("", 0), 1158, 1, 1.3},
        {"zooming in stops at 8 frames a pixel", Text("=", true), 0, 30, 1 / 1.3},
        {"zooming out stops at 65536", Text("-", true), 0, 40, 1.3},
        {"the zoom-in button stops at 8 too", IKeyPress("", 0), 1197, 30, 1 / 1.3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const double centre = rig.view->XToTime(middle);
        double expected = fitted;
        for (int i = 0; i < row.times; ++i) {
            if (row.buttonX > 0) {
                rig.driver->Click(row.buttonX, 660);
                rig.driver->AdvanceMs(300);
            } else {
                EXPECT_TRUE(rig.driver->KeyDown(row.key));
            }
            expected = std::clamp(expected * row.factor, 8.0, 65536.0);
        }
        EXPECT_DOUBLE_EQ(framesPerPixel(), expected);
        if (row.factor < 1) {
            EXPECT_NEAR(rig.view->XToTime(middle), centre, 1e-6); // zooming in keeps the centre
        }
        // The fit button and F return to the whole document.
        rig.driver->Click(1236, 660);
        rig.driver->AdvanceMs(300);
        EXPECT_DOUBLE_EQ(framesPerPixel(), fitted);
    }
    EXPECT_EQ(rig.view->ViewportState().viewStartFrame, 0.0);
}

TEST(EditorKeyHandler, EscapeCancelsBackgroundWorkFirstThenLeavesSplitMode) {
    cvtest::CanvasRig rig(TwoNotes());
    auto commands = std::make_shared<cvtest::FakeEditorCommands>(rig.host->session);
    rig.g->SetKeyHandlerFunc(cv::ui::EditorKeyHandler(*rig.g, commands));
    const IKeyPress escape = Key(iplug::kVK_ESCAPE);
    EXPECT_FALSE(rig.driver->KeyDown(escape)); // nothing to do: the host's
    rig.view->SetSplitMode(true);
    commands->backgroundWork = true;
    EXPECT_TRUE(rig.driver->KeyDown(escape));
    EXPECT_EQ(std::make_pair(commands->cancels, commands->splitToggles), std::make_pair(1, 0));
    commands->backgroundWork = false;
    EXPECT_TRUE(rig.driver->KeyDown(escape));
    EXPECT_EQ(std::make_pair(commands->cancels, commands->splitToggles), std::make_pair(1, 1));
}

TEST(EditorKeyHandler, EditingKeysWaitWhileAMouseDragIsOpen) {
    cvtest::PluginCanvasRig rig(TwoNotes());
    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Pitch));
    rig.driver->MouseDown(300, 474);
    rig.driver->MouseMove(300, 432); // +3 semitones inside the drag's gesture
    for (const IKeyPress& key :
         {Text("z", true), Key(iplug::kVK_UP), Key(iplug::kVK_RIGHT, false, true), Text("s")})
        EXPECT_TRUE(rig.driver->KeyDown(key)); // consumed, so the host does not act on them either
    EXPECT_DOUBLE_EQ(rig.Note(1).pitchOffset, 3.0);
    EXPECT_EQ(rig.Note(1).start, 48000);
    rig.driver->MouseUp(300, 432);
    EXPECT_EQ(rig.Session().undoStates().size(), 1u);
    EXPECT_TRUE(rig.driver->KeyDown(Text("z", true))); // after the release the drag is one undo step
    EXPECT_DOUBLE_EQ(rig.Note(1).pitchOffset, 0.0);
}

struct Reporter {
    std::vector<bool> reports;
    void ReportUiEditFailure(bool changed) { reports.push_back(changed); }
};

TEST(EditBoundary, AThrowingEditCancelsTheGestureAndReportsWhetherTheDocumentChanged) {
    np::EditSession session;
    session.setDocument(TwoNotes());
    Reporter reporter;
    const std::uint32_t one[] = {1};

    EXPECT_TRUE(runUiEditBoundary(
        session, [&] { session.addPitchOffset(one, 1.0); }, reporter));
    EXPECT_TRUE(reporter.reports.empty());

    session.beginGesture();
    const bool completed = runUiEditBoundary(
        session,
        [&] {
            session.addPitchOffset(one, 2.0);
            throw std::runtime_error("render refused");
        },
        reporter);
    EXPECT_FALSE(completed);
    EXPECT_FALSE(session.inGesture());
    EXPECT_DOUBLE_EQ(session.document().findNote(1)->pitchOffset, 1.0);
    EXPECT_FALSE(runUiEditBoundary(
        session, [] { throw 7; }, reporter));
    EXPECT_EQ(reporter.reports, (std::vector<bool>{true, false}));
}

} // namespace
} // namespace cv::ui
