// When the whole editor draws: at rest over a document, with the plug-in's idle loop running between the
// frame ticks as in the window, no tick draws; whatever does change is drawn at every tick while it
// changes, and the pixels the partial redraws leave equal a frame drawn whole.

#include "framework/graphics/popup_menu_control.h"
#include "plugin/corvalinth_params.h"
#include "tests/ui/canvas_fixture.h"
#include "ui/editor_tags.h"
#include "ui/header_controls.h"
#include "ui/inspector_view.h"
#include "ui/ivory/controls.h"

#include <functional>

namespace cv::ui {
namespace {

using namespace iplug::igraphics;

constexpr double kFrameMs = 1000.0 / 60.0;
// Longer than every fade of the kit and a status notice's four seconds.
constexpr int kSettleFrames = 300;
// A partial frame draws in coordinates shifted by its region's corner, where NanoVG flattens an icon's
// curves a little differently: a pixel or two of an icon the region reaches may differ from a whole
// frame. What was left stale (a value, the playhead) differs in dozens.
constexpr std::size_t kShiftedPixels = 4;
constexpr IRECT kWhole{0.f, 0.f, 1280.f, 816.f};

struct RedrawRig : cvtest::PluginCanvasRig {
    std::int64_t hostFrame = 0;

    RedrawRig() : PluginCanvasRig(cvtest::CanvasDocument({{48000, 24000, 60.3}, {96000, 24000, 64.4}})) {
        host->configure({48000.0, 512, 1, 1});
        host->processBlock({512, 0.0, false});
        Frames(kSettleFrames);
    }
    // The window's loop: an idle tick, then a frame tick; true when the frame drew.
    bool Frame() {
        host->idle(1);
        driver->AdvanceMs(kFrameMs);
        return driver->Tick();
    }
    int Frames(int n) {
        int drawn = 0;
        for (int i = 0; i < n; ++i)
            drawn += Frame() ? 1 : 0;
        return drawn;
    }
    // One host block of a playing transport, a frame's worth further on.
    void Play() {
        hostFrame += 800;
        host->processBlock({512, static_cast<double>(hostFrame), true});
    }
    IRECT Rect(int tag) const { return Tagged(tag)->GetRECT(); }
    // The tool bar's "Time" tab (kToolLabels[4]).
    IRECT TimeTab() const {
        for (int i = 0; i < g->NControls(); ++i)
            if (auto* tabs = dynamic_cast<TabSwitch*>(g->GetControl(i)))
                return tabs->TabRects()[4];
        return {};
    }
    IRECT PitchCell() const {
        return dynamic_cast<InspectorView*>(Tagged(kTagInspector))->NoteLayout().cells[kIdPitch];
    }
    // Chooses an item from the menu of the tool bar's drop-down chip for a parameter.
    void ChooseFromChip(int param, int item) {
        for (int i = 0; i < g->NControls(); ++i)
            if (auto* chip = dynamic_cast<ivory::IvoryDropdown*>(g->GetControl(i));
                chip != nullptr && chip->GetParamIdx() == param) {
                driver->Click(chip->GetRECT().MW(), chip->GetRECT().MH());
                ASSERT_TRUE(g->IsPopupMenuOpen());
                const IRECT r = g->GetPopupMenuControl()->GetItemRECT(item);
                driver->Click(r.MW(), r.MH());
                return;
            }
        FAIL() << "no chip for parameter " << param;
    }
    // Device pixels of a region (the whole editor by default) where what the ticks left differs from a
    // whole frame by more than rounding.
    std::size_t PixelsOffAWholeFrame(IRECT region = kWhole) {
        const RGBAImage ticked = dynamic_cast<OffscreenBackend&>(g->GetBackend()).ReadPixels();
        return PixelsApart(ticked, driver->Render(), region);
    }
    std::size_t PixelsApart(const RGBAImage& a, const RGBAImage& b, IRECT region = kWhole) const {
        const float scale = g->GetDrawScale() * g->GetScreenScale();
        const int x1 = std::min(a.w, static_cast<int>(region.R * scale));
        const int y1 = std::min(a.h, static_cast<int>(region.B * scale));
        std::size_t off = 0;
        for (int y = static_cast<int>(region.T * scale); y < y1; ++y)
            for (int x = static_cast<int>(region.L * scale); x < x1; ++x) {
                const IColor p = a.At(x, y), q = b.At(x, y);
                off += std::max({std::abs(p.R - q.R), std::abs(p.G - q.G), std::abs(p.B - q.B)}) > 1;
            }
        return off;
    }
};

TEST(EditorRedraw, AnEditorAtRestDrawsNothingWhileTheIdleLoopRuns) {
    RedrawRig rig;
    const struct {
        const char* what;
        std::function<void()> setUp;
    } cases[] = {
        {"nothing selected", [] {}},
        {"a note selected", [&] { rig.view->SetSelectionIds({2}); }},
        {"the Time tool", [&] { rig.driver->Click(rig.TimeTab().MW(), rig.TimeTab().MH()); }},
        {"a status notice between its fades", [&] { rig.plugin->SetStatus("Saved the take"); }},
        {"after playback stopped", [&] { rig.Play(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.setUp();
        rig.driver->MouseLeave();
        rig.Frames(20);
        EXPECT_EQ(rig.Frames(60), 0);
    }
}

TEST(EditorRedraw, WhatChangesIsDrawnAtEveryTickAndLeavesTheSamePixels) {
    RedrawRig rig;
    auto once = [](std::function<void()> act) {
        return [act](int frame) {
            if (frame == 0)
                act();
        };
    };
    const struct {
        const char* what;
        int frames; // every one of them draws
        std::function<void(int frame)> act;
    } cases[] = {
        {"playback moves the playhead", 12, [&](int) { rig.Play(); }},
        {"a hover fades in over Export", 5,
         once([&] { rig.driver->MouseMove(rig.Rect(kTagExport).MW(), rig.Rect(kTagExport).MH()); })},
        {"a notice fades in", 6, once([&] { rig.plugin->SetStatus("Saved the take"); })},
        {"a Pitch cell drag", 6,
         [&](int i) {
             const IRECT cell = rig.PitchCell();
             if (i == 0) {
                 rig.view->SetSelectionIds({1});
                 rig.driver->MouseDown(cell.MW(), cell.MH());
             }
             rig.driver->MouseMove(cell.MW(), cell.MH() - 10.f * static_cast<float>(i + 1));
             if (i == 5)
                 rig.driver->MouseUp(cell.MW(), cell.MH() - 60.f);
         }},
        {"a key nudges the selected note the inspector shows", 1,
         once([&] { rig.driver->KeyDown(iplug::IKeyPress("", iplug::kVK_UP)); })},
        {"the Time tool changes the inspector's face", 1,
         once([&] { rig.driver->Click(rig.TimeTab().MW(), rig.TimeTab().MH()); })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (int i = 0; i < c.frames; ++i) {
            c.act(i);
            EXPECT_TRUE(rig.Frame()) << "frame " << i;
        }
        rig.driver->MouseLeave();
        rig.Frames(kSettleFrames);
        EXPECT_EQ(rig.Frames(10), 0);
        EXPECT_LE(rig.PixelsOffAWholeFrame(), kShiftedPixels);
    }
}

TEST(EditorRedraw, TheCanvasDrawsAChangedKeyScaleA4TempoOrNoteAtTheNextTickByEveryRoad) {
    // The chips set their parameter at once; the plug-in's idle loop hands key, scale and A4 to the
    // session later. The window ticks its frames apart from the idle loop, so a frame comes between the
    // choice and the idle tick: the canvas must notice the change by itself at the frame after.
    RedrawRig rig;
    const struct {
        const char* what;
        std::function<void()> change;
    } cases[] = {
        {"Scale Major from its chip", [&] { rig.ChooseFromChip(kParamScale, 1); }},
        {"Key D from its chip", [&] { rig.ChooseFromChip(kParamKey, 2); }},
        {"A4 432 Hz from its chip", [&] { rig.ChooseFromChip(kParamA4, 1); }},
        {"Scale Minor from the host", [&] { rig.host->setParameter(kParamScale, 2.0); }},
        {"Key A from the host", [&] { rig.host->setParameter(kParamKey, 9.0); }},
        {"A4 444 Hz from the host", [&] { rig.host->setParameter(kParamA4, 7.0); }},
        // The editor only shows the tempo: the host is its one road.
        {"Tempo 97 bpm from the host", [&] { rig.host->setParameter(kParamTempo, 97.0); }},
        // As a restore, an undo or a finished analysis change them, whoever tells the editor.
        {"the notes, with no word to the editor",
         [&] {
             const std::uint32_t ids[] = {1, 2};
             rig.Session().addPitchOffset(ids, 3.0);
         }},
    };
    const IRECT canvas = rig.Rect(kTagCanvas);
    RGBAImage before = rig.driver->Render();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.change();
        rig.driver->MouseLeave(); // no hover: what differs from the last row is the change
        rig.driver->Tick();
        rig.Frame();
        const RGBAImage ticked = dynamic_cast<OffscreenBackend&>(rig.g->GetBackend()).ReadPixels();
        const RGBAImage whole = rig.driver->Render();
        EXPECT_LE(rig.PixelsApart(ticked, whole, canvas), kShiftedPixels);
        EXPECT_GT(rig.PixelsApart(before, whole, canvas), 2000u) << "the change shows";
        before = whole;
        rig.Frames(kSettleFrames);
        EXPECT_EQ(rig.Frames(60), 0);
    }
}

} // namespace
} // namespace cv::ui
