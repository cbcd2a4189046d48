// Mouse editing on the note canvas through the graphics layer's real event routing: the whole editor of
// a plug-in in the stand-in host (undo steps, what the host is told), or one canvas over a fake host
// (the live audition, failures, hover and cursors). Drags are scripted event by event, since events
// inside the 3-unit dead zone are dropped and the pitch and formant steps follow each event's delta.

#include "tests/ui/canvas_fixture.h"

#include <tuple>

namespace cv::ui {
namespace {

using cvtest::XOf;
using cvtest::YOf;
using iplug::IMouseMod;
using iplug::igraphics::ECursor;

// Note 1 spans x 253.5..347.25 at y 474 (pitch 60); note 2 x 441..534.75 at y 418 (pitch 64).
np::Document TwoNotes() {
    return cvtest::CanvasDocument({{48000, 24000, 60.0}, {96000, 24000, 64.0}});
}

const IMouseMod kLeft(true);
const IMouseMod kShift(true, false, true);
const IMouseMod kCmd(true, false, false, true);
const IMouseMod kAlt(true, false, false, false, true);

// Presses at (x, y), moves by one event per offset, releases where the last one ended.
template <class Rig>
void Gesture(Rig& rig, float x, float y, std::initializer_list<std::pair<float, float>> moves,
             const IMouseMod& mod = kLeft) {
    rig.driver->MouseDown(x, y, mod);
    float ex = x, ey = y;
    for (const auto& [dx, dy] : moves) {
        ex = x + dx;
        ey = y + dy;
        rig.driver->MouseMove(ex, ey, mod);
    }
    rig.driver->MouseUp(ex, ey, mod);
    rig.driver->AdvanceMs(500); // the next press is no double-click
}

TEST(EditorViewMouse, PitchDragMovesTheSelectionInOneUndoStepAndTellsTheHostOnceAfterTheRelease) {
    cvtest::PluginCanvasRig rig(TwoNotes());
    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Pitch));
    rig.driver->Click(300, 474);
    rig.driver->AdvanceMs(500);
    rig.driver->Click(480, 418, kShift);
    rig.driver->AdvanceMs(500);
    ASSERT_EQ(rig.view->SelectionIds(), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_TRUE(rig.Session().undoStates().empty()); // clicks leave no undo step
    const int told = rig.host->stateChangeCount();

    rig.driver->MouseDown(300, 474); // a press on a selected note keeps the selection
    rig.driver->MouseMove(300, 432); // one event 42 units up at 14 per semitone
    EXPECT_EQ(rig.Note(1).pitchOffset, 3.0);
    EXPECT_EQ(rig.Note(2).pitchOffset, 3.0);
    EXPECT_EQ(rig.host->stateChangeCount(), told); // nothing published inside the gesture
    rig.driver->MouseUp(300, 432);
    EXPECT_EQ(rig.host->stateChangeCount(), told + 1);
    EXPECT_EQ(rig.Session().undoStates().size(), 1u);
    ASSERT_TRUE(rig.Session().undo());
    EXPECT_EQ(rig.Note(1).pitchOffset, 0.0);
    ASSERT_TRUE(rig.Session().redo());
    EXPECT_EQ(rig.Note(2).pitchOffset, 3.0);

    // With Alt the offset follows the pointer exactly; 20 units is 1.428571 semitones, not 1.
    ASSERT_TRUE(rig.Session().undo());
    rig.driver->AdvanceMs(500);
    Gesture(rig, 300, 474, {{0, -42}}, kAlt);
    EXPECT_EQ(rig.Note(1).pitchOffset, 3.0);
    Gesture(rig, 300, 432, {{0, -20}}, kAlt);
    EXPECT_NEAR(rig.Note(2).pitchOffset, 3.0 + 20.0 / 14.0, 1e-6);

    // A drag inside the dead zone changes nothing and leaves no undo step, even with tools whose every
    // unit counts; 3 units on one axis leave it.
    const std::size_t steps = rig.Session().undoStates().size();
    Gesture(rig, 300, 412, {{2, -2}});
    EXPECT_EQ(rig.Session().undoStates().size(), steps);
    EXPECT_NEAR(rig.Note(1).pitchOffset, 3.0 + 20.0 / 14.0, 1e-6);
    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Amp));
    Gesture(rig, 300, 412, {{0, -2}, {2, -2}});
    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Time));
    Gesture(rig, 280, 412, {{2, 0}, {2, 2}});
    EXPECT_EQ(rig.Note(1).gainDb, 0.0);
    EXPECT_EQ(rig.Note(1).start, 48000);
    EXPECT_EQ(rig.Session().undoStates().size(), steps);
    Gesture(rig, 280, 412, {{3, 0}});
    EXPECT_EQ(rig.Note(1).start, 48000 + 3 * 256);
}

TEST(EditorViewMouse, EachToolsDragOfSeveralStepsLandsWhereThePointerEndsInOneUndoStep) {
    cvtest::PluginCanvasRig rig(TwoNotes());
    using Field = double (*)(const np::Note&);
    const Field pitch = [](const np::Note& n) { return n.pitchOffset; };
    const Field start = [](const np::Note& n) { return double(n.start); };
    const Field length = [](const np::Note& n) { return double(n.length); };
    const struct {
        const char* what;
        Tool tool;
        float x;      // pressed at y 474, on note 1
        float dx, dy; // each of four drag events
        IMouseMod mod;
        Field field;
        double expected; // note 1's value after the release
    } rows[] = {
        {"main, up", Tool::Main, 300, 0, -14, kLeft, pitch, 4.0},
        {"main, right", Tool::Main, 300, 10, 0, kLeft, start, 48000 + 40 * 256},
        {"pitch, rounded at each step", Tool::Pitch, 300, 0, -7, kLeft, pitch, 2.0},
        {"pitch with Alt", Tool::Pitch, 300, 0, 5, kAlt, pitch, -20.0 / 14.0},
        {"time, right", Tool::Time, 270, 10, 0, kLeft, start, 48000 + 40 * 256},
        {"time, left", Tool::Time, 270, -10, 0, kLeft, start, 48000 - 40 * 256},
        {"stretch from the end", Tool::Time, XOf(72000) - 5, 10, 0, kLeft, length, 24000 + 40 * 256},
        {"formant, up", Tool::Formant, 300, 0, -7, kLeft, [](const np::Note& n) { return n.formantShift; },
         2.0},
        {"gain, up", Tool::Amp, 300, 0, -4, kLeft, [](const np::Note& n) { return n.gainDb; }, 4.0},
        {"drift, up", Tool::Mod, 300, 0, -15, kLeft, [](const np::Note& n) { return n.driftScale; }, 1.5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        rig.view->SetTool(static_cast<std::uint32_t>(row.tool));
        const double before = row.field(rig.Note(1));
        const int told = rig.host->stateChangeCount();
        Gesture(
            rig, row.x, 474,
            {{row.dx, row.dy}, {2 * row.dx, 2 * row.dy}, {3 * row.dx, 3 * row.dy}, {4 * row.dx, 4 * row.dy}},
            row.mod);
        EXPECT_NEAR(row.field(rig.Note(1)), row.expected, 1e-6); // the pointer moves in float units
        EXPECT_EQ(rig.Note(2).start, 96000);                     // not selected
        EXPECT_EQ(rig.Note(2).pitchOffset, 0.0);
        EXPECT_EQ(rig.Session().undoStates().size(), 1u);
        EXPECT_EQ(rig.host->stateChangeCount(), told + 1);
        ASSERT_TRUE(rig.Session().undo());
        EXPECT_EQ(row.field(rig.Note(1)), before);
    }
}

TEST(EditorViewMouse, TimeDragsLockTheirAxisMoveByWholeFramesAndStayOnTheTimeline) {
    const std::int64_t limit = 536870912 / 4; // mono
    np::Document doc = TwoNotes();
    doc.notes.push_back(doc.notes[1]);
    np::Note& late = doc.notes.back();
    late.id = doc.nextNoteId++;
    late.start = late.sourceStart = limit - 24000 - 2560;
    late.sourceEnd = late.start + 24000;
    late.pitch = 70.0;
    cvtest::PluginCanvasRig rig(std::move(doc));

    // Main tool: mostly horizontal moves in time and keeps doing so; mostly vertical tunes.
    Gesture(rig, 300, 474, {{10, 4}, {10, -40}});
    EXPECT_EQ(rig.Note(1).start, 48000 + 2560);
    EXPECT_EQ(rig.Note(1).pitchOffset, 0.0);
    Gesture(rig, 300, 474, {{4, 10}, {50, 10}});
    EXPECT_EQ(rig.Note(1).pitchOffset, -1.0);
    EXPECT_EQ(rig.Note(1).start, 48000 + 2560);

    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Time));
    Gesture(rig, 270, 488, {{100, 0}});
    EXPECT_EQ(rig.Note(1).start, 50560 + 25600);
    Gesture(rig, 370, 488, {{-400, 0}});
    EXPECT_EQ(rig.Note(1).start, 0);
    ASSERT_TRUE(rig.view->RestoreViewport({256, double(limit - 600 * 256), 84, 14}));
    Gesture(rig, 580, 334, {{100, 0}});
    EXPECT_EQ(rig.Note(3).start, limit - 24000);
    EXPECT_EQ(rig.Session().undoStates().size(), 5u);
}

// A time drag of several notes moves them as one group: past the start it stops with the earliest at 0,
// and back it follows the pointer from where it stopped, so the notes land where the pointer says.
TEST(EditorViewMouse, ATimeDragOfSeveralNotesKeepsTheirSpacingPastTheStartAndBack) {
    cvtest::PluginCanvasRig rig(TwoNotes());
    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Time));
    rig.view->SelectAll();
    rig.driver->MouseDown(300, 474);
    rig.driver->MouseMove(-100, 474); // 102400 frames back
    EXPECT_EQ(std::tuple(rig.Note(1).start, rig.Note(2).start), std::tuple(0, 48000));
    rig.driver->MouseMove(310, 474);
    rig.driver->MouseUp(310, 474);
    EXPECT_EQ(std::tuple(rig.Note(1).start, rig.Note(2).start), std::tuple(48000 + 2560, 96000 + 2560));
}

TEST(EditorViewMouse, TheTimeToolStretchesFromTheResizeZoneOnlyThePressedNote) {
    cvtest::PluginCanvasRig rig(TwoNotes());
    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Time));
    rig.view->SelectAll();
    const float end = XOf(72000);
    Gesture(rig, end - 5, 474, {{50, 0}});
    EXPECT_EQ(rig.Note(1).length, 24000 + 12800);
    EXPECT_EQ(rig.Note(1).start, 48000);
    EXPECT_EQ(rig.Note(2).length, 24000);
    Gesture(rig, XOf(84800) - 9, 474, {{10, 0}}); // 9 units from the new end: a move of both
    EXPECT_EQ(rig.Note(1).start, 48000 + 2560);
    EXPECT_EQ(rig.Note(2).start, 96000 + 2560);
    Gesture(rig, XOf(98560 + 24000) - 5, 418, {{-20, 0}}); // the second note's end: only it shrinks
    EXPECT_EQ(rig.Note(2).length, 24000 - 5120);
    EXPECT_EQ(rig.Note(1).length, 24000 + 12800);
}

TEST(EditorViewMouse, SplitModeCutsEveryNoteUnderTheClickInOneStep) {
    cvtest::PluginCanvasRig rig(cvtest::CanvasDocument({{48000, 48000, 60.0}, {60000, 48000, 64.0}}));
    rig.view->SetSplitMode(true);
    rig.driver->Click(700, 300); // between notes: nothing
    rig.driver->AdvanceMs(500);
    EXPECT_EQ(rig.Session().document().notes.size(), 2u);
    const int told = rig.host->stateChangeCount();
    rig.driver->Click(400, 300); // frame 85504 lies inside both
    rig.driver->AdvanceMs(500);
    EXPECT_EQ(rig.Session().document().notes.size(), 4u);
    EXPECT_EQ(rig.Note(1).length, 85504 - 48000);
    EXPECT_EQ(rig.Session().undoStates().size(), 1u);
    EXPECT_EQ(rig.host->stateChangeCount(), told + 1);
    EXPECT_EQ(rig.view->SelectionIds(), (std::vector<std::uint32_t>{1, 2, 3, 4}));
    EXPECT_TRUE(rig.view->SplitMode());
    rig.driver->Click(700, 300, IMouseMod(false, true)); // a right click leaves split mode
    EXPECT_FALSE(rig.view->SplitMode());

    // Cmd-click splits with the Main tool only, as a step of its own, keeping the selection.
    rig.driver->AdvanceMs(500);
    rig.view->ClearSelection();
    rig.driver->Click(XOf(80000), YOf(60), kCmd);
    EXPECT_EQ(rig.Session().document().notes.size(), 5u);
    EXPECT_TRUE(rig.view->SelectionIds().empty());
    rig.driver->AdvanceMs(500);
    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Pitch));
    rig.driver->Click(XOf(70000), YOf(60), kCmd);
    EXPECT_EQ(rig.Session().document().notes.size(), 5u);
    EXPECT_EQ(rig.view->SelectionIds(), std::vector<std::uint32_t>{1});
}

TEST(EditorViewMouse, DoubleClicksMuteFlattenAndSnapInOneStepEach) {
    np::Document doc = TwoNotes();
    doc.notes[0].pitch = 60.4;
    doc.notes[0].driftScale = 1.5;
    cvtest::PluginCanvasRig rig(std::move(doc));
    rig.Session().setKeyScale(np::KeyScale{0, 1});

    // The router gives the second click only as a double-click: with Shift the first click selects the
    // note and no second press takes it out again.
    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Amp));
    rig.driver->DoubleClick(300, 469, kShift);
    EXPECT_TRUE(rig.Note(1).muted);
    EXPECT_EQ(rig.view->SelectionIds(), std::vector<std::uint32_t>{1});
    rig.driver->AdvanceMs(500);
    rig.driver->DoubleClick(300, 469);
    EXPECT_FALSE(rig.Note(1).muted);
    rig.driver->AdvanceMs(500);

    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Mod));
    rig.view->SelectAll(); // a double-click on a selected note flattens the whole selection
    rig.driver->DoubleClick(300, 469);
    EXPECT_EQ(rig.Note(1).driftScale, 0.0);
    EXPECT_EQ(rig.Note(2).driftScale, 0.0);
    rig.driver->AdvanceMs(500);
    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Main));
    rig.driver->DoubleClick(300, 469);
    EXPECT_NEAR(rig.Note(1).pitchOffset, -0.4, 1e-9);
    EXPECT_EQ(rig.Session().undoStates().size(), 4u);
}

TEST(EditorViewMouse, AClickSelectsOneNoteAndShiftTogglesANoteInOrOut) {
    cvtest::CanvasRig rig(TwoNotes());
    const struct {
        const char* name;
        float x, y;
        IMouseMod mod;
        std::vector<std::uint32_t> selection;
    } clicks[] = {
        {"click note 1", 300, 474, kLeft, {1}},
        {"shift-click unselected note 2", 480, 418, kShift, {1, 2}},
        {"click selected note 2 keeps both", 480, 418, kLeft, {1, 2}},
        {"shift-click selected note 1", 300, 474, kShift, {2}},
        {"shift-click selected note 2", 480, 418, kShift, {}},
        {"shift-click unselected note 1", 300, 474, kShift, {1}},
        {"shift-click empty canvas", 700, 300, kShift, {1}},
        {"click note 2", 480, 418, kLeft, {2}},
        {"click empty canvas", 700, 300, kLeft, {}},
    };
    for (const auto& c : clicks) {
        SCOPED_TRACE(c.name);
        rig.driver->Click(c.x, c.y, c.mod);
        rig.driver->AdvanceMs(500); // the next click is no double-click
        EXPECT_EQ(rig.view->SelectionIds(), c.selection);
    }
    EXPECT_TRUE(rig.host->session.undoStates().empty());
}

TEST(EditorViewMouse, AMarqueeSelectsWhatItSpansAndShiftAddsToTheSelection) {
    cvtest::PluginCanvasRig rig(TwoNotes());
    rig.driver->Click(480, 418);
    rig.driver->AdvanceMs(500);
    Gesture(rig, 200, 460, {{150, 30}});
    EXPECT_EQ(rig.view->SelectionIds(), std::vector<std::uint32_t>{1});
    Gesture(rig, 540, 430, {{-110, -20}}, kShift); // dragged up and to the left
    EXPECT_EQ(rig.view->SelectionIds(), (std::vector<std::uint32_t>{1, 2}));
    Gesture(rig, 700, 300, {{2, 2}}); // 2 x 2 selects nothing, and the press cleared the selection
    EXPECT_TRUE(rig.view->SelectionIds().empty());
}

TEST(EditorViewMouse, ClosingTheEditorMidDragEndsTheGestureAndTellsTheHost) {
    cvtest::PluginCanvasRig rig(TwoNotes());
    const int told = rig.host->stateChangeCount();
    rig.driver->MouseDown(300, 474);
    rig.driver->MouseMove(300, 432);
    ASSERT_TRUE(rig.Session().inGesture());
    rig.Close(); // no release arrives
    EXPECT_FALSE(rig.Session().inGesture());
    EXPECT_EQ(rig.Note(1).pitchOffset, 3.0);
    EXPECT_EQ(rig.Session().undoStates().size(), 1u);
    EXPECT_EQ(rig.host->stateChangeCount(), told + 1);
}

TEST(EditorViewMouse, TheLiveAuditionFollowsPitchAndFormantDragsAndALostCaptureEndsTheGesture) {
    cvtest::CanvasRig rig(TwoNotes());
    Gesture(rig, 300, 474, {{0, -14}});
    EXPECT_EQ(rig.host->audition, (std::vector<std::string>{"start 1", "update 1", "stop"}));
    rig.host->audition.clear();
    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Formant));
    Gesture(rig, 300, 460, {{0, -7}});
    EXPECT_EQ(rig.Note(1).formantShift, 0.5);
    EXPECT_EQ(rig.host->audition, (std::vector<std::string>{"start 1", "update 1", "stop"}));
    rig.host->audition.clear();
    for (Tool t : {Tool::Amp, Tool::Time, Tool::Mod}) {
        rig.view->SetTool(static_cast<std::uint32_t>(t));
        Gesture(rig, 300, 460, {{0, -12}});
    }
    EXPECT_TRUE(rig.host->audition.empty());
    EXPECT_EQ(rig.Note(1).gainDb, 3.0);
    EXPECT_DOUBLE_EQ(rig.Note(1).driftScale, 1.1);

    // The window closes without a release: the next frame tick ends the gesture and publishes it.
    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Pitch));
    const int published = rig.host->editedOutsideGesture;
    rig.driver->MouseDown(300, 460);
    rig.driver->MouseMove(300, 432);
    rig.g->CloseWindow();
    rig.driver->Tick();
    EXPECT_FALSE(rig.host->session.inGesture());
    EXPECT_EQ(rig.host->editedOutsideGesture, published + 1);
    EXPECT_EQ(rig.host->audition.back(), "stop");
    EXPECT_EQ(rig.view->Gesture(), GestureMode::None);
}

TEST(EditorViewMouse, AFailingEditCancelsTheGestureAndReportsIt) {
    cvtest::CanvasRig rig(TwoNotes());
    rig.host->onEdited = [] { throw std::runtime_error("render refused"); };
    rig.driver->MouseDown(300, 474);
    rig.driver->MouseMove(300, 432);
    EXPECT_EQ(rig.Note(1).pitchOffset, 0.0); // the gesture was rolled back
    EXPECT_FALSE(rig.host->session.inGesture());
    EXPECT_EQ(rig.host->failures, std::vector<bool>{true});
    EXPECT_EQ(rig.host->audition.back(), "stop");
    EXPECT_EQ(rig.view->Gesture(), GestureMode::None);
    rig.driver->MouseMove(300, 400);
    rig.driver->MouseUp(300, 400);
    EXPECT_EQ(rig.Note(1).pitchOffset, 0.0);
    EXPECT_TRUE(rig.host->session.undoStates().empty());
}

TEST(EditorViewMouse, HoverSetsTheNoteAndCursorAndTheWheelZoomsAboutThePointer) {
    cvtest::CanvasRig rig(TwoNotes());
    const struct {
        Tool tool;
        float x, y;
        std::uint32_t hover;
        ECursor cursor;
    } cases[] = {
        {Tool::Main, 300, 474, 1, ECursor::SIZEALL}, {Tool::Time, 300, 474, 1, ECursor::SIZEWE},
        {Tool::Amp, 480, 418, 2, ECursor::SIZENS},   {Tool::Amp, 300, 125, 0, ECursor::HAND},
        {Tool::Amp, 40, 474, 0, ECursor::ARROW},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        rig.view->SetTool(static_cast<std::uint32_t>(c.tool));
        rig.driver->MouseMove(c.x, c.y);
        EXPECT_EQ(rig.view->HoverNoteId(), c.hover);
        EXPECT_EQ(rig.driver->Cursor(), c.cursor);
    }
    rig.view->SetSplitMode(true);
    rig.driver->MouseMove(300, 474);
    EXPECT_EQ(std::make_tuple(rig.view->HoverNoteId(), rig.view->SplitHoverX(), rig.driver->Cursor()),
              std::make_tuple(0u, 300.f, ECursor::CROSS));
    rig.driver->MouseMove(300, 125); // over the ruler: no cut line
    EXPECT_EQ(std::make_tuple(rig.view->SplitHoverX(), rig.driver->Cursor()),
              std::make_tuple(-1.f, ECursor::HAND));
    rig.driver->MouseMove(40, 474); // over the keyboard
    EXPECT_EQ(rig.view->SplitHoverX(), -1.f);
    rig.driver->MouseMove(1270, 474); // off the control
    EXPECT_EQ(std::make_tuple(rig.view->SplitHoverX(), rig.driver->Cursor()),
              std::make_tuple(-1.f, ECursor::ARROW));

    rig.driver->Wheel(300, 474, 1.f, IMouseMod(false, false, false, true));
    EXPECT_NEAR(rig.view->ViewportState().framesPerPixel, 256 / 1.15, 1e-9);
    EXPECT_NEAR(rig.view->XToTime(300), 234 * 256.0, 1e-6);
}

TEST(EditorViewMouse, EachModifiersWheelTurnMovesItsOwnPartOfTheView) {
    cvtest::CanvasRig rig(TwoNotes());
    // The pointer at (300, 474) is 234 units right of and 336 below the grid's corner: frame 107904 and
    // pitch 60 under it.
    const IMouseMod none, shift(false, false, true), cmd(false, false, false, true),
        alt(false, false, false, false, true), cmdAlt(false, false, false, true, true),
        altShift(false, false, true, false, true);
    const EditorViewportState zoomTime{256 / 1.15, 107904 - 234 * 256 / 1.15, 84, 14};
    const EditorViewportState zoomPitch{256, 48000, 60 + 336 / (14 * 1.15), float(14 * 1.15)};
    const struct {
        const char* what;
        IMouseMod mod;
        EditorViewportState expected;
    } turns[] = {
        {"plain: pitch scrolls up", none, {256, 48000, 84 + 6.0 / 14, 14}},
        {"Shift: time pans back", shift, {256, 48000 - 48 * 256, 84, 14}},
        {"Cmd: time zooms in about the pointer", cmd, zoomTime},
        {"Alt: pitch zooms in about the pointer", alt, zoomPitch},
        {"Cmd wins over Alt", cmdAlt, zoomTime},
        {"Alt wins over Shift", altShift, zoomPitch},
    };
    for (const auto& t : turns) {
        SCOPED_TRACE(t.what);
        ASSERT_TRUE(rig.view->RestoreViewport({256, 48000, 84, 14}));
        rig.driver->Wheel(300, 474, 1.f, t.mod);
        const EditorViewportState v = rig.view->ViewportState();
        EXPECT_NEAR(v.framesPerPixel, t.expected.framesPerPixel, 1e-6);
        EXPECT_NEAR(v.viewStartFrame, t.expected.viewStartFrame, 1e-3);
        EXPECT_NEAR(v.topMidi, t.expected.topMidi, 1e-4);
        EXPECT_NEAR(v.pxPerSemitone, t.expected.pxPerSemitone, 1e-4);
    }
}

} // namespace
} // namespace cv::ui
