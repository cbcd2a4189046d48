// Help on the empty editor: "Copy diagnostics" with the driver's clipboard accepting and refusing, pages,
// closing, keys, the fades shared by the overlays, and the reference grid's columns.

#include "tests/ui/overlay_fixture.h"

namespace cv::ui {
namespace {

using namespace iplug::igraphics;
using iplug::IKeyPress;

struct Help : testing::Test {
    OverlayFixture f;
    Help() { f.help->OpenModal(); }
    void ClickCopy() { f.driver->Click(f.help->CopyButton().MW(), f.help->CopyButton().MH()); }
};

TEST_F(Help, CopyShowsCopiedForAWhileAndCouldntCopyUntilReopened) {
    EXPECT_STREQ(f.help->CopyLabel(), "Copy diagnostics");
    ClickCopy();
    EXPECT_EQ(f.driver->Clipboard(), "Corvalinth 1.0.0\n");
    EXPECT_STREQ(f.help->CopyLabel(), "Copied");
    EXPECT_EQ(f.help->FocusIndex(), HelpOverlay::kFocusCopy);
    f.driver->AdvanceMs(1799);
    f.driver->Tick();
    EXPECT_STREQ(f.help->CopyLabel(), "Copied");
    f.driver->AdvanceMs(1);
    f.driver->Tick();
    EXPECT_STREQ(f.help->CopyLabel(), "Copy diagnostics");

    f.driver->SetClipboardRefuses(true);
    ClickCopy();
    f.driver->RunFrames(300); // 5 s
    EXPECT_STREQ(f.help->CopyLabel(), "Couldn't copy");
    f.driver->KeyDown(IKeyPress("", iplug::kVK_ESCAPE));
    f.driver->RunFrames(6);
    EXPECT_TRUE(f.help->IsHidden());
    f.help->OpenModal();
    EXPECT_STREQ(f.help->CopyLabel(), "Copy diagnostics");
}

TEST_F(Help, TabsKeysAndTheBackdropAndTheFades) {
    const IRECT bar = f.help->TabBar();
    f.driver->Click(bar.L + bar.W() * 0.9f, bar.MH());
    EXPECT_EQ(f.help->Page(), 2);
    const IKeyPress tab("", iplug::kVK_TAB), shiftTab("", iplug::kVK_TAB, true), right("", iplug::kVK_RIGHT);
    f.driver->KeyDown(right); // focus on the tabs: the next page, wrapping
    EXPECT_EQ(f.help->Page(), 0);
    f.driver->KeyDown(shiftTab);
    EXPECT_EQ(f.help->FocusIndex(), HelpOverlay::kFocusClose);
    f.driver->KeyDown(right); // not on the tabs: the page stays
    EXPECT_EQ(f.help->Page(), 0);
    f.driver->KeyDown(tab);
    f.driver->KeyDown(tab);
    f.driver->KeyDown(IKeyPress(" ", iplug::kVK_SPACE));
    EXPECT_EQ(f.driver->Clipboard(), "Corvalinth 1.0.0\n");
    f.driver->KeyDown(tab);
    f.driver->KeyDown(IKeyPress("", iplug::kVK_RETURN));
    EXPECT_TRUE(f.help->Closing());

    // Opening fades in as 1 - (1 - p)^3 over 120 ms; closing fades from where it was with a smoothstep
    // over 90 ms and then hides.
    f.help->OpenModal();
    f.driver->AdvanceMs(60);
    EXPECT_NEAR(f.help->Opacity(), 0.875f, 1e-3f);
    f.driver->Click(20, 400); // the backdrop closes
    EXPECT_TRUE(f.help->Closing());
    f.driver->AdvanceMs(45);
    EXPECT_NEAR(f.help->Opacity(), 0.875f * 0.5f, 1e-3f);
    f.driver->AdvanceMs(45);
    f.driver->Tick();
    EXPECT_TRUE(f.help->IsHidden());
}

TEST(HelpPages, EachPageListsItsReferenceRows) {
    const std::vector<std::vector<std::pair<std::string, std::string>>> pages{
        {{"Main", "Move pitch and timing; double-click to correct pitch"},
         {"Pitch", "Tune by semitone; hold Alt for cents"},
         {"Formant", "Change tone without changing pitch"},
         {"Amp", "Adjust gain; double-click to mute"},
         {"Time", "Move notes; drag the right edge to stretch"},
         {"Mod", "Adjust vibrato; double-click to flatten"}},
        {{"scroll", "Move vertically through pitches"},
         {"Shift + scroll", "Move horizontally through time"},
         {"Cmd + scroll / pinch", "Zoom time around the pointer"},
         {"Alt + scroll", "Zoom the pitch range"},
         {"Capture", "Stored with this plug-in instance"}},
        {{"Space", "Play or stop the DAW"},
         {"Cmd/Ctrl + Z", "Undo; add Shift to redo"},
         {"Cmd/Ctrl + A", "Select all notes"},
         {"S / M", "Split at the playhead or merge"},
         {"Cmd/Ctrl + = / -", "Zoom in or out"},
         {"F", "Fit everything in view"},
         {"Up / Down", "Nudge pitch; hold Alt for cents"},
         {"Cmd/Ctrl + \xE2\x86\x90 / \xE2\x86\x92", "Nudge time; hold Alt for 1 ms"}},
    };
    const char* tabs[] = {"Editing tools", "Navigation", "Shortcuts"};
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE(tabs[page]);
        EXPECT_STREQ(kHelpPageLabels[page], tabs[page]);
        EXPECT_EQ(HelpPageStyle(page), page == 0 ? ReferenceStyle::Tools : ReferenceStyle::Keys);
        const std::span<const ReferenceRow> rows = HelpPageRows(page);
        ASSERT_EQ(rows.size(), pages[page].size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].key, pages[page][i].first);
            EXPECT_EQ(rows[i].description, pages[page][i].second);
        }
    }
}

TEST(ReferenceGrid, FiveRowsPutThreeInTheFirstColumnAndTwoInTheSecond) {
    const std::vector<IRECT> cells = ReferenceGridCells(IRECT(0, 0, 704, 400), 5);
    ASSERT_EQ(cells.size(), 5u);
    EXPECT_EQ(cells[2].L, cells[0].L);
    EXPECT_GT(cells[3].L, cells[0].R);
    EXPECT_EQ(cells[3].T, cells[0].T);
    EXPECT_FLOAT_EQ(cells[0].H(), 64.f); // (400 - 40) / 3 is more than a row may take
}

} // namespace
} // namespace cv::ui
