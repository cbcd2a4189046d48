// The editor as the layout builds it for the plug-in: tags, groups, the hidden set, z-order, tooltips,
// the dropdowns' re-alignment, the tool tabs and the split button.

#include "framework/graphics/popup_menu_control.h"
#include "tests/plugin/corvalinth_probe.h"
#include "tests/ui/canvas_fixture.h"
#include "tests/ui/editor_fixture.h"
#include "ui/chassis.h"
#include "ui/confirm_overlay.h"
#include "ui/editor_controls_view.h"
#include "ui/editor_geometry.h"
#include "ui/editor_tags.h"
#include "ui/editor_view.h"
#include "ui/header_controls.h"
#include "ui/ivory/controls.h"
#include "ui/overlay_services.h"

#include <typeinfo>

namespace cv::ui {
namespace {

using namespace iplug::igraphics;

int IndexOf(const IGraphics& g, const IControl* c) {
    for (int i = 0; i < g.NControls(); ++i)
        if (g.GetControl(i) == c)
            return i;
    return -1;
}

// The tool tabs' control, found under the first tab.
const TabSwitch* Tabs(const EditorFixture& f) {
    return dynamic_cast<const TabSwitch*>(f.g->GetMouseControl(80, 81));
}

// The layout's geometry with the tool tabs as wide as the layout measured them.
EditorGeometry Geometry(const EditorFixture& f) {
    return ComputeEditorGeometry(1280.f, 816.f, Tabs(f)->GetRECT().W());
}

TEST(EditorLayout, TagsGroupsHiddenSetAndZOrder) {
    EditorFixture f;
    const EditorGeometry e = Geometry(f);
    EXPECT_EQ(e.tabs, Tabs(f)->GetRECT());
    const struct {
        int tag;
        IRECT rect;
        const char* group;
        bool hidden;
    } table[] = {
        {kTagCanvas, {14, 114, 1266, 688}, "", false},
        {kTagTime, {554, 15, 648, 47}, "", false},
        {kTagFile, {664, 15, 924, 47}, "", false},
        {kTagHint, {14, 796, 1030, 813}, "", true},
        {kTagCapture, {171, 15, 267, 47}, "", false},
        {kTagOriginal, {271, 15, 367, 47}, kGroupDoc, false},
        {kTagNoteCount, {1046, 796, 1266, 813}, "", true},
        {kTagHelp, {0, 0, 1280, 816}, "", true},
        {kTagPrefs, {0, 0, 1280, 816}, "", true},
        {kTagUpdates, {0, 0, 1280, 816}, "", true},
        {kTagInspector, {14, 698, 1266, 794}, "", false},
        {kTagExport, {462, 15, 540, 47}, kGroupDoc, false},
        {kTagSplit, e.split, kGroupDoc, false},
        {kTagNotice, {28, 650, 634, 688}, "", true},
        {kTagConfirm, {0, 0, 1280, 816}, "", true},
    };
    int hidden = 0;
    for (const auto& row : table) {
        SCOPED_TRACE(row.tag);
        const IControl* c = f.Tagged(row.tag);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->GetRECT(), row.rect);
        EXPECT_EQ(c->GetGroup(), row.group);
        EXPECT_EQ(c->IsHidden(), row.hidden);
    }
    for (int i = 0; i < f.g->NControls(); ++i)
        hidden += f.g->GetControl(i)->IsHidden();
    EXPECT_EQ(hidden, 7); // the two texts, the notice line and the four overlays
    for (int unused : {4, 7, 11, 16})
        EXPECT_EQ(f.Tagged(unused), nullptr);
    // Five controls in "doc" (Original, Clear, Export, split, Merge) and the three zoom buttons.
    int doc = 0, zoom = 0;
    f.g->ForControlInGroup(kGroupDoc, [&](IControl&) { ++doc; });
    f.g->ForControlInGroup(kGroupZoom, [&](IControl& c) {
        ++zoom;
        EXPECT_GT(IndexOf(*f.g, &c), IndexOf(*f.g, f.Tagged(kTagCanvas)));
    });
    EXPECT_EQ(doc, 5);
    EXPECT_EQ(zoom, 3);
    // Header before tool bar before inspector before canvas; the decor, the notice line, then the overlays
    // with the confirmation dialog on top of everything.
    const int n = f.g->NControls();
    EXPECT_LT(IndexOf(*f.g, f.Tagged(kTagFile)), IndexOf(*f.g, f.Tagged(kTagSplit)));
    EXPECT_LT(IndexOf(*f.g, f.Tagged(kTagSplit)), IndexOf(*f.g, f.Tagged(kTagInspector)));
    EXPECT_LT(IndexOf(*f.g, f.Tagged(kTagInspector)), IndexOf(*f.g, f.Tagged(kTagCanvas)));
    EXPECT_NE(dynamic_cast<const ChassisFrame*>(f.g->GetControl(n - 6)), nullptr);
    EXPECT_NE(dynamic_cast<const GrainOverlay*>(f.g->GetControl(n - 7)), nullptr);
    EXPECT_EQ(f.g->GetControl(n - 5), f.Tagged(kTagNotice));
    const int overlays[] = {kTagHelp, kTagPrefs, kTagUpdates, kTagConfirm};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(f.g->GetControl(n - 4 + i), f.Tagged(overlays[i]));
    EXPECT_FLOAT_EQ(f.g->GetMinScale(), 0.7f);
    EXPECT_FLOAT_EQ(f.g->GetMaxScale(), 1.5f);
    EXPECT_NE(f.g->GetCornerResizer(), nullptr);
}

TEST(EditorLayout, EveryControlAndToolTabShowsItsTooltip) {
    EditorFixture f;
    const EditorGeometry e = Geometry(f);
    const struct {
        float x, y;
        const char* tooltip;
    } table[] = {
        {200, 31,
         "Capture audio from this track. Click Capture, then play the section. The capture is stored "
         "with this plug-in instance."},
        {300, 31, "Hear the unedited capture. Turn this off to hear your edits."},
        {400, 31, "Remove the captured audio and edits from this plug-in instance."},
        {500, 31, "Save the edited audio as a WAV file"},
        {1240, 31, "Output volume"},
        {989, 31, "Open help"},
        {951, 31, "Open preferences"},
        {e.undo.MW(), 81, "Undo (Cmd/Ctrl+Z)"},
        {e.redo.MW(), 81, "Redo (Cmd/Ctrl+Shift+Z)"},
        {e.split.MW(), 81,
         "Split \xE2\x80\x94 arm the cut tool, then click notes; S splits at the playhead, Cmd+click "
         "anytime"},
        {e.merge.MW(), 81, "Merge \xE2\x80\x94 combine the selected notes into one (M)"},
        {1250, 81, "Choose Melodic for vocals or Percussive for drums."},
        {1158, 660, "Zoom out (Cmd+Minus; Cmd+scroll, Alt+scroll for pitch)"},
        {1197, 660, "Zoom in (Cmd+Plus; Cmd+scroll, Alt+scroll for pitch)"},
        {1236, 660, "Fit everything in view (F)"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.tooltip);
        f.driver->MouseMove(row.x, row.y);
        f.driver->AdvanceMs(600);
        f.driver->Tick();
        EXPECT_EQ(f.driver->Tooltip(), row.tooltip);
    }
    const TabSwitch* tabs = Tabs(f);
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->TabRects().size(), 6u);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(kToolLabels[i]);
        const IRECT& r = tabs->TabRects()[static_cast<std::size_t>(i)];
        f.driver->MouseMove(r.MW(), r.MH());
        f.driver->AdvanceMs(600);
        f.driver->Tick();
        EXPECT_EQ(f.driver->Tooltip(), ToolHints()[static_cast<std::size_t>(i)]);
    }
    // With the layout's width every tab is its label's width plus 22, the last ending 4 before the edge.
    EXPECT_FLOAT_EQ(tabs->TabRects().back().R, tabs->GetRECT().R - 4.f);
    const IText style(17.f, COLOR_WHITE, "Hanken-SemiBold", EAlign::Near);
    EXPECT_NEAR(tabs->TabRects().back().W(), f.g->MeasureTextWidth(style, "Mod") + 22.f, 1e-3f);
}

TEST(EditorLayout, DropdownsRealignAfterAChoiceChangesACaptionsWidth) {
    EditorFixture f;
    std::vector<ivory::IvoryDropdown*> d; // in creation order: Algo, Scale, Key, A4
    for (int i = 0; i < f.g->NControls(); ++i)
        if (auto* dropdown = dynamic_cast<ivory::IvoryDropdown*>(f.g->GetControl(i)))
            d.push_back(dropdown);
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0]->Label(), "Algo");
    EXPECT_EQ(d[0]->GetRECT().R, 1266.f);
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_FLOAT_EQ(d[i]->GetRECT().R, d[i - 1]->GetRECT().L - 13.f);
    const float scaleWidth = d[1]->GetRECT().W();
    const float keyLeft = d[2]->GetRECT().L, a4Left = d[3]->GetRECT().L;
    // Choose "Minor" from the Scale menu.
    f.driver->Click(d[1]->GetRECT().MW(), d[1]->GetRECT().MH());
    ASSERT_TRUE(f.g->IsPopupMenuOpen());
    const IRECT minor = f.g->GetPopupMenuControl()->GetItemRECT(2);
    f.driver->Click(minor.MW(), minor.MH());
    EXPECT_EQ(f.plugin->GetParam(2)->Int(), 2);
    const float growth = d[1]->GetRECT().W() - scaleWidth;
    EXPECT_NE(growth, 0.f);
    EXPECT_EQ(d[0]->GetRECT().R, 1266.f);
    EXPECT_FLOAT_EQ(d[1]->GetRECT().W(), d[1]->PreferredWidth());
    EXPECT_FLOAT_EQ(d[2]->GetRECT().L, keyLeft - growth);
    EXPECT_FLOAT_EQ(d[3]->GetRECT().L, a4Left - growth);
    EXPECT_EQ(d[3]->GetTargetRECT(), d[3]->GetRECT());
}

TEST(EditorLayout, DropdownsRealignWhenACancelledAlgorithmChangeSetsTheValueBack) {
    // An edited capture: a change of algorithm asks first, and Cancel sets the value back through the
    // plug-in rather than through the menu.
    np::Document doc = cvtest::CanvasDocument({{48000, 24000, 60.0}});
    auto audio = doc.audio;
    cvtest::PluginCanvasRig rig(std::move(doc));
    CorvalinthProbe::replaceSource(*rig.plugin, audio);
    const std::uint32_t id = 1;
    rig.Session().addGainDb({&id, 1}, -3.0);
    rig.plugin->OnDocumentEdited();
    auto* algo = dynamic_cast<ivory::IvoryDropdown*>(rig.g->GetMouseControl(1250, 81));
    ASSERT_NE(algo, nullptr);
    const IRECT melodic = algo->GetRECT();
    rig.driver->Click(melodic.MW(), melodic.MH());
    ASSERT_TRUE(rig.g->IsPopupMenuOpen());
    const IRECT percussive = rig.g->GetPopupMenuControl()->GetItemRECT(1);
    rig.driver->Click(percussive.MW(), percussive.MH());
    EXPECT_NE(algo->GetRECT().W(), melodic.W());
    rig.host->idle();
    auto* confirm = dynamic_cast<ConfirmOverlay*>(rig.Tagged(kTagConfirm));
    ASSERT_FALSE(confirm->IsHidden());
    const IRECT cancel = confirm->ButtonRect(1);
    rig.driver->Click(cancel.MW(), cancel.MH());
    EXPECT_EQ(rig.plugin->GetParam(kParamAlgorithm)->Int(), 0);
    EXPECT_EQ(algo->GetRECT(), melodic);
    EXPECT_FLOAT_EQ(algo->GetRECT().W(), algo->PreferredWidth());
}

TEST(EditorLayout, ToolTabsSetTheToolAndTheSplitButtonNeedsADocument) {
    EditorFixture f;
    auto* canvas = dynamic_cast<EditorView*>(f.Tagged(kTagCanvas));
    ASSERT_NE(canvas, nullptr);
    const IRECT split = f.Tagged(kTagSplit)->GetRECT();
    f.driver->Click(split.MW(), split.MH()); // no document: only the press pulse
    EXPECT_FALSE(canvas->SplitMode());
    EXPECT_TRUE(f.Tagged(kTagSplit)->IsDirty());
    np::Document doc;
    doc.audio = std::make_shared<np::AudioBuffer>();
    f.plugin->Session().setDocument(std::move(doc));
    f.driver->Click(split.MW(), split.MH());
    EXPECT_TRUE(canvas->SplitMode());
    f.driver->Click(split.MW(), split.MH()); // a second click leaves split mode, a third arms it again
    EXPECT_FALSE(canvas->SplitMode());
    f.driver->Click(split.MW(), split.MH());
    EXPECT_TRUE(canvas->SplitMode());
    // Choosing a tab sets the tool and leaves split mode.
    f.driver->Render(); // the tabs measure their rectangles as they draw
    const IRECT time = Tabs(f)->TabRects()[4];
    f.driver->Click(time.MW(), time.MH());
    EXPECT_EQ(canvas->Tool(), 4u);
    EXPECT_FALSE(canvas->SplitMode());
}

TEST(EditorLayout, TheToolBarAndHeaderButtonsRunThePluginsCommands) {
    cvtest::PluginCanvasRig rig{cvtest::CanvasDocument({{48000, 24000, 60.0}, {84000, 20000, 62.0}})};
    const EditorGeometry e =
        ComputeEditorGeometry(1280.f, 816.f, rig.g->GetMouseControl(80, 81)->GetRECT().W());
    auto click = [&](const IRECT& r) { rig.driver->Click(r.MW(), r.MH()); };
    using ivory::EPhosphorIcon;
    const std::pair<IRECT, EPhosphorIcon> icons[] = {
        {e.undo, EPhosphorIcon::Undo},       {e.redo, EPhosphorIcon::Redo},
        {e.help, EPhosphorIcon::Help},       {e.settings, EPhosphorIcon::Settings},
        {e.zoomOut, EPhosphorIcon::ZoomOut}, {e.zoomIn, EPhosphorIcon::ZoomIn},
        {e.fit, EPhosphorIcon::Fit},
    };
    for (const auto& [r, icon] : icons) {
        const auto* button =
            dynamic_cast<const ivory::IvoryIconButton*>(rig.g->GetMouseControl(r.MW(), r.MH()));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->Icon(), icon);
    }
    rig.view->SelectAll();
    click(e.merge);
    EXPECT_EQ(rig.Session().document().notes.size(), 1u);
    click(e.undo);
    EXPECT_EQ(rig.Session().document().notes.size(), 2u);
    click(e.redo);
    EXPECT_EQ(rig.Session().document().notes.size(), 1u);
    // Capture and Clear ask first: the edits would be lost.
    IControl* confirm = rig.g->GetControlWithTag(kTagConfirm);
    for (const IRECT& button : {e.capture, e.clear}) {
        click(button);
        EXPECT_FALSE(confirm->IsHidden());
        rig.driver->Click(20, 20); // the backdrop cancels
        ASSERT_TRUE(confirm->IsHidden());
    }
    EXPECT_EQ(rig.Session().document().notes.size(), 1u);
}

TEST(EditorLayout, ThePluginsViewSetsReadoutsTheFileTextAndAsksForConfirmation) {
    EditorFixture f;
    EditorControlsView view(*f.g);
    EditorReadouts r;
    r.timeText = "01:02.50";
    r.unsavedMark = true;
    r.documentEmpty = false;
    r.noteCountText = "40 notes \xC2\xB7 3 selected";
    r.captureValue = 1.0;
    view.ShowReadouts(r);
    EXPECT_EQ(dynamic_cast<ITextControl*>(f.Tagged(kTagTime))->GetStr(), "01:02.50");
    const auto* file = dynamic_cast<FileReadout*>(f.Tagged(kTagFile));
    EXPECT_STREQ(file->StatusWord(), "Unsaved");
    EXPECT_EQ(file->TextArea(), IRECT(664, 15, 924 - 76, 47)); // the name keeps clear of the word
    EXPECT_FALSE(f.Tagged(kTagNoteCount)->IsHidden());
    auto shown = [&](int tag) {
        return dynamic_cast<const ivory::IvoryToggle*>(f.Tagged(tag))->ShownLabel();
    };
    EXPECT_EQ(f.Tagged(kTagCapture)->GetValue(), 1.0);
    EXPECT_EQ(shown(kTagCapture), "Stop");
    EXPECT_EQ(f.Tagged(kTagOriginal)->GetValue(), 0.0);
    EXPECT_EQ(shown(kTagOriginal), "Original");
    f.g->ForControlInGroup(kGroupDoc, [](IControl& c) { EXPECT_FALSE(c.IsDisabled()); });
    r.captureValue = 0.0;
    r.originalValue = 1.0;
    view.ShowReadouts(r);
    EXPECT_EQ(f.Tagged(kTagCapture)->GetValue(), 0.0);
    EXPECT_EQ(shown(kTagCapture), "Capture");
    EXPECT_EQ(f.Tagged(kTagOriginal)->GetValue(), 1.0);
    EXPECT_EQ(shown(kTagOriginal), "Original");
    r.documentEmpty = true;
    r.noteCountText.clear();
    view.ShowReadouts(r);
    EXPECT_TRUE(f.Tagged(kTagNoteCount)->IsHidden());
    f.g->ForControlInGroup(kGroupDoc, [](IControl& c) { EXPECT_TRUE(c.IsDisabled()); });
    f.g->ForControlInGroup(kGroupZoom, [](IControl& c) { EXPECT_TRUE(c.IsHidden()); });

    view.ShowFileText("take.wav  \xE2\x80\x94  48.0 kHz");
    EXPECT_EQ(dynamic_cast<ITextControl*>(f.Tagged(kTagFile))->GetStr(), "take.wav  \xE2\x80\x94  48.0 kHz");
    view.ResetFileReadout("No file loaded"); // a new source: no status word
    EXPECT_EQ(file->StatusWord(), nullptr);
    EXPECT_EQ(file->TextArea(), file->GetRECT());
    view.SetCanvasSplitMode(true);
    EXPECT_TRUE(view.CanvasSplitMode());
    EXPECT_TRUE(f.Tagged(kTagSplit)->IsDirty());
    int answer = -1;
    ASSERT_TRUE(view.AskConfirmation("Clear capture?", "Remove this capture and all its edits?",
                                     {"Clear capture", "Cancel"}, 5, [&](int i) { answer = i; }));
    EXPECT_FALSE(f.Tagged(kTagConfirm)->IsHidden());
    f.driver->Click(20, 20); // the backdrop cancels, with the cancel index held to the last button
    EXPECT_EQ(answer, 1);
    EXPECT_TRUE(f.Tagged(kTagConfirm)->IsHidden());
}

TEST(EditorLayout, ExportOpensItsMenuAtTheButtonAndDiagnosticsReachTheClipboard) {
    EditorFixture f;
    auto audio = std::make_shared<np::AudioBuffer>();
    np::Document doc;
    doc.audio = audio;
    f.plugin->Session().setDocument(std::move(doc));
    CorvalinthProbe::replaceSource(*f.plugin, audio);
    f.g->ForControlInGroup(kGroupDoc, [](IControl& c) { c.SetDisabled(false); });
    const IRECT button = f.Tagged(kTagExport)->GetRECT();
    f.driver->Click(button.MW(), button.MH());
    ASSERT_TRUE(f.g->IsPopupMenuOpen());
    const IRECT item = f.g->GetPopupMenuControl()->GetItemRECT(0); // "16-bit WAV"
    f.driver->Click(item.MW(), item.MH());
    ASSERT_EQ(f.driver->FilePrompts().size(), 1u);
    EXPECT_EQ(f.driver->FilePrompts()[0].extension, "wav");
    EXPECT_EQ(CorvalinthProbe::exportDepth(*f.plugin), 0);
    f.driver->CompleteFilePrompt(""); // cancelled

    ASSERT_TRUE(OverlayServicesFor(*f.plugin).copyDiagnostics());
    EXPECT_EQ(f.driver->Clipboard().rfind("Corvalinth 1.0.0\n", 0), 0u);
}

} // namespace
} // namespace cv::ui
