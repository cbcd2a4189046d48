// When the whole editor draws: at rest over a document, with the plug-in's idle loop running between the
// frame ticks as in the window, no tick draws; whatever does change is drawn at every tick while it
// changes, and the pixels the partial redraws leave equal a frame drawn whole.

#include "tests/ui/canvas_fixture.h"
#include "ui/editor_tags.h"
#include "ui/header_controls.h"
#include "ui/inspector_view.h"

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
    // Device pixels where what the ticks left differs from a whole frame by more than rounding.
    std::size_t PixelsOffAWholeFrame() {
        const RGBAImage ticked = dynamic_cast<OffscreenBackend&>(g->GetBackend()).ReadPixels();
        const RGBAImage whole = driver->Render();
        std::size_t off = 0;
        for (int y = 0; y < whole.h; ++y)
            for (int x = 0; x < whole.w; ++x) {
                const IColor a = ticked.At(x, y), b = whole.At(x, y);
                off += std::max({std::abs(a.R - b.R), std::abs(a.G - b.G), std::abs(a.B - b.B)}) > 1;
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

} // namespace
} // namespace cv::ui
