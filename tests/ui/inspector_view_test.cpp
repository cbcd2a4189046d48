// The inspector through the graphics layer's event routing: in the whole editor of a plug-in in the
// stand-in host (undo steps, what the host is told, the macros), and over fake commands beside a canvas
// for the failure path.

#include "tests/ui/canvas_fixture.h"
#include "ui/chassis.h"
#include "ui/editor_tags.h"
#include "ui/inspector_view.h"
#include "ui/ivory/painters.h"

#include <cmath>
#include <stdexcept>
#include <tuple>

namespace cv::ui {
namespace {

using iplug::IMouseMod;

const IMouseMod kLeft(true);
const IMouseMod kAlt(true, false, false, false, true);

std::pair<float, float> Mid(const IRECT& r) {
    return {r.MW(), r.MH()};
}

// Two notes at pitches 60.3 and 64.4, the first with drift 1.5.
np::Document TwoNotes() {
    np::Document doc = cvtest::CanvasDocument({{48000, 24000, 60.3}, {96000, 24000, 64.4}});
    doc.notes[0].driftScale = 1.5;
    return doc;
}

struct InspectorRig : cvtest::PluginCanvasRig {
    InspectorView* inspector = nullptr;
    InspectorRig() : PluginCanvasRig(TwoNotes()) {
        inspector = dynamic_cast<InspectorView*>(g->GetControlWithTag(kTagInspector));
    }
    // Presses the middle of r, moves by dy in one event, releases there.
    void DragBy(const IRECT& r, float dy, const IMouseMod& mod = kLeft) {
        const auto [x, y] = Mid(r);
        driver->MouseDown(x, y, mod);
        driver->MouseMove(x, y + dy, mod);
        driver->MouseUp(x, y + dy, mod);
        driver->AdvanceMs(500);
    }
};

TEST(InspectorView, AValueCellDragIsOneGestureToldToTheHostAtTheRelease) {
    InspectorRig rig;
    ASSERT_NE(rig.inspector, nullptr);
    EXPECT_TRUE(rig.inspector->WidthsMeasured());
    rig.view->SetSelectionIds({1, 2});
    const NoteFaceLayout l = rig.inspector->NoteLayout();

    // 50 units up is one semitone for every selected note; the host hears of it once, after the release.
    const int told = rig.host->stateChangeCount();
    const auto [x, y] = Mid(l.cells[kIdPitch]);
    rig.driver->MouseDown(x, y);
    rig.driver->MouseMove(x, y - 50.f);
    EXPECT_DOUBLE_EQ(rig.Note(1).pitchOffset, 1.0);
    EXPECT_DOUBLE_EQ(rig.Note(2).pitchOffset, 1.0);
    EXPECT_TRUE(rig.Session().inGesture());
    EXPECT_EQ(rig.host->stateChangeCount(), told);
    rig.driver->MouseUp(x, y - 50.f);
    EXPECT_EQ(rig.host->stateChangeCount(), told + 1);
    EXPECT_EQ(rig.Session().undoStates().size(), 1u);
    rig.driver->AdvanceMs(500);

    // With Alt a quarter of it; the other cells at their own paces, each one more undo step.
    rig.DragBy(l.cells[kIdPitch], -50.f, kAlt);
    EXPECT_DOUBLE_EQ(rig.Note(1).pitchOffset, 1.25);
    rig.DragBy(l.cells[kIdFormant], -50.f);
    EXPECT_DOUBLE_EQ(rig.Note(2).formantShift, 1.0);
    rig.DragBy(l.cells[kIdGain], 20.f);
    EXPECT_DOUBLE_EQ(rig.Note(1).gainDb, -1.0);
    // Drift follows the first selected note's 1.5, up to 2, never snapping back to 1.
    rig.DragBy(l.cells[kIdDrift], -25.f);
    EXPECT_NEAR(rig.Note(2).driftScale, 1.6, 1e-9);
    rig.DragBy(l.cells[kIdDrift], -200.f);
    EXPECT_DOUBLE_EQ(rig.Note(1).driftScale, 2.0);
    EXPECT_EQ(rig.Session().undoStates().size(), 6u);
    EXPECT_EQ(rig.host->stateChangeCount(), told + 6);

    // Without a selection a cell starts nothing.
    rig.view->ClearSelection();
    rig.DragBy(l.cells[kIdPitch], -50.f);
    EXPECT_DOUBLE_EQ(rig.Note(1).pitchOffset, 1.25);
    EXPECT_FALSE(rig.Session().inGesture());
    EXPECT_EQ(rig.inspector->ActiveDrag(), InspectorView::kDragNone);
}

TEST(InspectorView, KnobsSetTheMacroSettingsWithinZeroAndOneAndCorrectPitchTakesEveryNote) {
    InspectorRig rig;
    const NoteFaceLayout l = rig.inspector->NoteLayout();
    cv::MacroSettings& macros = rig.plugin->Macros();

    rig.DragBy(l.cells[kIdAmount], 40.f); // down 40: 1.0 - 0.2
    EXPECT_DOUBLE_EQ(macros.correctionAmount, 0.8);
    rig.DragBy(l.cells[kIdAmount], -300.f);
    EXPECT_DOUBLE_EQ(macros.correctionAmount, 1.0);
    rig.DragBy(l.cells[kIdFlatten], 300.f);
    EXPECT_DOUBLE_EQ(macros.vibratoFlattening, 0.0);
    rig.DragBy(l.cells[kIdFlatten], -40.f, kAlt);
    EXPECT_DOUBLE_EQ(macros.vibratoFlattening, 0.05);
    EXPECT_TRUE(rig.Session().undoStates().empty()); // settings, not edits

    // Nothing selected: "Correct pitch" moves both notes onto their semitones in one step.
    const auto [cx, cy] = Mid(l.correct);
    rig.driver->Click(cx, cy);
    EXPECT_NEAR(rig.Note(1).pitch + rig.Note(1).pitchOffset, 60.0, 1e-9);
    EXPECT_NEAR(rig.Note(2).pitch + rig.Note(2).pitchOffset, 64.0, 1e-9);
    EXPECT_EQ(rig.Session().undoStates().size(), 1u);
}

TEST(InspectorView, EachCellAndKnobShowsAndEditsItsOwnValue) {
    InspectorRig rig;
    EXPECT_FALSE(rig.inspector->Heading());
    rig.view->SetSelectionIds({1});
    EXPECT_EQ(rig.inspector->Heading()->name, "C4"); // 60.3
    EXPECT_EQ(rig.inspector->Heading()->cents, "+30 cents");
    const NoteFaceLayout l = rig.inspector->NoteLayout();
    const struct {
        int id;
        float dy;
        const char* shown;
        std::size_t undoSteps; // after the drag
    } rows[] = {
        {kIdPitch, -50.f, "+1.0 st", 1}, {kIdDrift, 25.f, "140%", 2}, {kIdFormant, -50.f, "+1.0 st", 3},
        {kIdGain, 20.f, "-1.0 dB", 4},   {kIdAmount, 40.f, "80%", 4}, {kIdFlatten, -40.f, "20%", 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(kCellLabels[row.id]);
        const auto before = rig.inspector->NoteCells();
        rig.DragBy(l.cells[row.id], row.dy);
        const auto after = rig.inspector->NoteCells();
        for (int i = 0; i < kCellCount; ++i) {
            EXPECT_STREQ(after[i].label, kCellLabels[i]);
            EXPECT_EQ(after[i].face.value, i == row.id ? row.shown : before[i].face.value) << kCellLabels[i];
        }
        EXPECT_EQ(rig.Session().undoStates().size(), row.undoSteps);
    }
    const np::Note& n = rig.Note(1);
    EXPECT_EQ(std::make_tuple(n.pitchOffset, n.driftScale, n.formantShift, n.gainDb),
              std::make_tuple(1.0, 1.4, 1.0, -1.0));
    EXPECT_DOUBLE_EQ(rig.plugin->Macros().correctionAmount, 0.8);
    EXPECT_DOUBLE_EQ(rig.plugin->Macros().vibratoFlattening, 0.2);
    EXPECT_EQ(rig.inspector->Heading()->name, "C#4"); // the heading follows the pitch offset
}

TEST(InspectorView, TheTimeToolShowsTheQuantizeFace) {
    InspectorRig rig;
    EXPECT_EQ(rig.inspector->Face(), InspectorFace::Note);
    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Time));
    EXPECT_EQ(rig.inspector->Face(), InspectorFace::Time);
    const TimeFaceLayout t = rig.inspector->TimeLayout();
    cv::MacroSettings& macros = rig.plugin->Macros();

    EXPECT_EQ(rig.inspector->ShownGridIndex(), 1); // "1/8"
    const auto [sx, sy] = Mid(t.Segment(2));
    rig.driver->Click(sx, sy);
    EXPECT_EQ(macros.quantizeGridIndex, 2);
    EXPECT_EQ(rig.inspector->ShownGridIndex(), 2);
    rig.DragBy(t.strength, 300.f);
    EXPECT_DOUBLE_EQ(macros.quantizeStrength, 0.0);
    rig.DragBy(t.strength, -60.f);
    EXPECT_DOUBLE_EQ(macros.quantizeStrength, 0.3);
    EXPECT_EQ(rig.inspector->StrengthKnob().face.value, "30%");

    // Hover: the tooltip of what lies under the pointer, and its cursor.
    const auto [ax, ay] = Mid(t.apply);
    rig.driver->MouseMove(ax, ay);
    EXPECT_EQ(rig.inspector->HoveredInteraction(), kIdApply);
    EXPECT_EQ(rig.inspector->GetTooltip(), "Quantize the selected notes, or all notes if none are selected.");
    EXPECT_EQ(rig.driver->Cursor(), iplug::igraphics::ECursor::HAND);
    rig.driver->MouseMove(t.tempo.MW(), t.tempo.MH()); // the display is no control, but says what it is
    EXPECT_EQ(rig.inspector->GetTooltip(), "Project tempo for the bar grid and time quantize.");
    rig.driver->MouseMove(640.f, 400.f); // over the canvas
    EXPECT_EQ(rig.inspector->HoveredInteraction(), kIdNone);
}

// What the knobs and the grid segments look like: each knob's pointer at its value's angle, the chosen
// segment raised above the well.
TEST(InspectorView, KnobsPointAtTheirValuesAndTheChosenSegmentStandsOut) {
    InspectorRig rig;
    for (int i = 0; i < rig.g->NControls(); ++i)
        if (dynamic_cast<GrainOverlay*>(rig.g->GetControl(i)))
            rig.g->GetControl(i)->Hide(true);
    const NoteFaceLayout l = rig.inspector->NoteLayout();
    rig.DragBy(l.cells[kIdFlatten], -100.f); // 0 -> 0.5
    rig.driver->Render();
    // Amount at 1 points down-right, Flatten at 0.5 straight up; the pointer runs from 0.22 to 0.77 of
    // the knob's body radius.
    const struct {
        int id;
        float fraction, elsewhere; // where the pointer is, and a place it is not
    } knobs[] = {{kIdAmount, 1.f, 0.f}, {kIdFlatten, 0.5f, 0.f}};
    for (const auto& [id, fraction, elsewhere] : knobs) {
        SCOPED_TRACE(kCellLabels[id]);
        const IRECT knob = ivory::KnobSquare(l.cells[id], false);
        const float r = 0.5f * ivory::KnobRadius(knob.W());
        auto lightAt = [&](float fractionAt) {
            const float a = ivory::KnobAngle(fractionAt) * 3.14159265f / 180.f;
            return rig.driver->PixelAt(knob.MW() + r * std::sin(a), knob.MH() - r * std::cos(a)).G;
        };
        EXPECT_GT(lightAt(fraction), 150);
        EXPECT_LT(lightAt(elsewhere), 110);
    }

    rig.view->SetTool(static_cast<std::uint32_t>(Tool::Time));
    const TimeFaceLayout t = rig.inspector->TimeLayout();
    for (int chosen : {2, 0, 1}) {
        SCOPED_TRACE(chosen);
        rig.driver->Click(t.Segment(chosen).MW(), t.Segment(chosen).MH());
        rig.driver->AdvanceMs(500);
        rig.driver->Render();
        for (int i = 0; i < 3; ++i) {
            const int level = rig.driver->PixelAt(t.Segment(i).MW(), t.grid.T + 9.f).G;
            if (i == chosen)
                EXPECT_GT(level, 30) << i;
            else
                EXPECT_LT(level, 24) << i;
        }
    }
}

TEST(InspectorView, AFailingDragCancelsItsGestureAndALostReleaseEndsIt) {
    cvtest::CanvasRig rig(TwoNotes());
    auto owned = std::make_unique<cvtest::FakeEditorCommands>(rig.host->session);
    cvtest::FakeEditorCommands* commands = owned.get();
    auto* inspector = rig.g->AttachControl(
        std::make_unique<InspectorView>(IRECT(14.f, 698.f, 1266.f, 794.f), std::move(owned)), kTagInspector);
    rig.view->SetSelectionIds({1});
    const auto [x, y] = Mid(inspector->NoteLayout().cells[kIdPitch]);

    rig.driver->MouseDown(x, y);
    rig.driver->MouseMove(x, y - 50.f);
    ASSERT_DOUBLE_EQ(rig.Note(1).pitchOffset, 1.0);
    commands->failMacros = true;
    rig.driver->MouseMove(x, y - 100.f);
    EXPECT_DOUBLE_EQ(rig.Note(1).pitchOffset, 0.0); // back to before the gesture
    EXPECT_FALSE(rig.host->session.inGesture());
    EXPECT_EQ(commands->failures, std::vector<bool>{true});
    EXPECT_EQ(inspector->ActiveDrag(), InspectorView::kDragNone);
    EXPECT_EQ(inspector->PressedInteraction(), kIdNone);
    rig.driver->MouseUp(x, y - 100.f);
    EXPECT_EQ(commands->failures.size(), 1u);
    EXPECT_EQ(commands->edited, 0);
    EXPECT_TRUE(rig.host->session.undoStates().empty());

    // The window closes mid-drag: the next frame tick ends the gesture and takes the edited path once.
    commands->failMacros = false;
    rig.driver->AdvanceMs(500);
    rig.driver->MouseDown(x, y);
    rig.driver->MouseMove(x, y - 50.f);
    rig.g->CloseWindow();
    rig.driver->Tick();
    EXPECT_FALSE(rig.host->session.inGesture());
    EXPECT_EQ(commands->edited, 1);
    EXPECT_EQ(rig.host->session.undoStates().size(), 1u);
}

} // namespace
} // namespace cv::ui
