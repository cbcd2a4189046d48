// Preferences: choices mapped to stored values and back, each row written to its key in the store (the
// store's file and folder are tested with the store), "Saved" and "Couldn't save", and the keyboard focus.

#include "framework/graphics/popup_menu_control.h"
#include "tests/ui/overlay_fixture.h"

namespace cv::ui {
namespace {

using namespace iplug::igraphics;
using iplug::IKeyPress;

TEST(PrefsMapping, StoredValuesShowTheirChoiceAndChoicesStoreTheirValue) {
    const struct {
        int row, stored, shown;
    } shown[] = {{0, 9, 2},   {1, 12, 7},  {1, -4, 0}, {2, 0, 1},   {3, 60, 0},   {3, 120, 1}, {3, 90, 0},
                 {3, 300, 2}, {3, 600, 3}, {3, 0, 0},  {3, 601, 0}, {3, -600, 0}, {4, 5, 0}};
    for (const auto& c : shown)
        EXPECT_EQ(PrefChoiceForStored(c.row, c.stored), c.shown) << c.row << " " << c.stored;
    const struct {
        int row, choice;
        std::optional<int> stored;
    } stored[] = {{1, 7, 7},   {2, 1, 0}, {3, 0, 60},           {3, 1, 120},           {3, 2, 300},
                  {3, 3, 600}, {4, 0, 1}, {3, 4, std::nullopt}, {3, -1, std::nullopt}, {5, 0, std::nullopt}};
    for (const auto& c : stored)
        EXPECT_EQ(PrefStoredForChoice(c.row, c.choice), c.stored) << c.row << " " << c.choice;
}

TEST(PrefsOverlayStore, SavedShowsTenSecondsFromTheLastChoiceAndAFailureShowsCouldntSave) {
    OverlayFixture f;
    std::vector<bool> automatic;
    auto* overlay = f.Replace(
        kTagPrefs, std::make_unique<PrefsOverlay>(
                       IRECT(0, 0, 1280, 816),
                       PrefsOverlay::Services{&f.prefs, [&](bool on) { automatic.push_back(on); }}));
    overlay->OpenModal();
    // Choose "5 min" from the interval row's menu.
    const IRECT field = overlay->Dropdown(3);
    f.driver->Click(field.MW(), field.MH());
    ASSERT_TRUE(f.g->IsPopupMenuOpen());
    EXPECT_EQ(overlay->OpenRow(), 3);
    const IRECT item = f.g->GetPopupMenuControl()->GetItemRECT(2);
    f.driver->Click(item.MW(), item.MH());
    EXPECT_EQ(f.prefs.getInt(kPrefAutosaveIntervalSec, 0), 300);
    EXPECT_EQ(overlay->ShownChoice(3), 2);
    EXPECT_STREQ(overlay->StatusText(), "Saved");
    f.driver->AdvanceMs(6000);
    overlay->Choose(4, 0); // "Automatic", 6 s later: "Saved" runs 10 s from here
    EXPECT_EQ(automatic, std::vector<bool>{true});
    EXPECT_EQ(f.prefs.getInt(kPrefUpdateChecksEnabled, 0), 1);
    f.driver->AdvanceMs(9999);
    f.driver->Tick();
    EXPECT_STREQ(overlay->StatusText(), "Saved");
    f.driver->AdvanceMs(1);
    f.driver->Tick();
    EXPECT_STREQ(overlay->StatusText(), "");

    // A menu closed without a choice writes nothing.
    f.driver->Click(field.MW(), field.MH());
    f.driver->Click(5, 5);
    EXPECT_EQ(f.prefs.getInt(kPrefAutosaveIntervalSec, 0), 300);
    EXPECT_STREQ(overlay->StatusText(), "");

    // A store that cannot save: "Couldn't save", the value unchanged, no word to the plug-in.
    cv::Prefs unsaved{std::filesystem::path()};
    PrefsOverlay refused(IRECT(0, 0, 1280, 816), {&unsaved, [&](bool on) { automatic.push_back(on); }});
    refused.Choose(4, 1);
    EXPECT_STREQ(refused.StatusText(), "Couldn't save");
    EXPECT_EQ(unsaved.getInt(kPrefUpdateChecksEnabled, 1), 1);
    EXPECT_EQ(automatic.size(), 1u);
    refused.Choose(9, 0); // a row out of range is a failure too
    EXPECT_STREQ(refused.StatusText(), "Couldn't save");
}

TEST(PrefsOverlayInterval, EveryStoredIntervalShowsAsStoredAndEveryChoiceStoresItsSeconds) {
    OverlayFixture f;
    PrefsOverlay* overlay = f.prefsOverlay;
    overlay->OpenModal();
    auto shown = [&] { return PrefRows()[3].choices[static_cast<std::size_t>(overlay->ShownChoice(3))]; };
    EXPECT_EQ(shown(), "2 min"); // nothing stored: the default, 120 s
    const struct {
        const char* stored;
        const char* shown;
    } stored[] = {{"60", "1 min"}, {"120", "2 min"}, {"300", "5 min"},  {"600", "10 min"},
                  {"90", "1 min"}, {"0", "1 min"},   {"-300", "1 min"}, {"6000", "1 min"}};
    for (const auto& c : stored) {
        SCOPED_TRACE(c.stored);
        ASSERT_TRUE(f.prefs.set(kPrefAutosaveIntervalSec, c.stored));
        EXPECT_EQ(shown(), c.shown);
    }
    // Each choice of the drop-down's menu, the store holding something else before it.
    const IRECT field = overlay->Dropdown(3);
    const int seconds[] = {60, 120, 300, 600};
    for (int choice = 0; choice < 4; ++choice) {
        SCOPED_TRACE(choice);
        ASSERT_TRUE(f.prefs.set(kPrefAutosaveIntervalSec, "90"));
        f.driver->Click(field.MW(), field.MH());
        ASSERT_TRUE(f.g->IsPopupMenuOpen());
        const IRECT item = f.g->GetPopupMenuControl()->GetItemRECT(choice);
        f.driver->Click(item.MW(), item.MH());
        EXPECT_EQ(f.prefs.getInt(kPrefAutosaveIntervalSec, 0), seconds[choice]);
        EXPECT_EQ(overlay->ShownChoice(3), choice);
        f.driver->AdvanceMs(1000); // the next press is no double-click
    }
}

TEST(PrefsOverlayKeys, FocusRunsOverSevenPlacesAndEnterActsOnTheFocusedOne) {
    OverlayFixture f;
    PrefsOverlay* overlay = f.prefsOverlay;
    overlay->OpenModal();
    f.driver->KeyDown(IKeyPress("", iplug::kVK_TAB, true)); // Shift+Tab from the first row
    EXPECT_EQ(overlay->FocusIndex(), PrefsOverlay::kClose);
    EXPECT_TRUE(overlay->FocusVisible());
    f.driver->KeyDown(IKeyPress("", iplug::kVK_TAB, true)); // the footer's button comes before it
    EXPECT_EQ(overlay->FocusIndex(), PrefsOverlay::kUpdates);
    f.driver->KeyDown(IKeyPress("", iplug::kVK_TAB));
    EXPECT_EQ(overlay->FocusIndex(), PrefsOverlay::kClose);
    f.driver->KeyDown(IKeyPress("", iplug::kVK_DOWN));
    f.driver->KeyDown(IKeyPress("", iplug::kVK_DOWN));
    EXPECT_EQ(overlay->FocusIndex(), 1);
    f.driver->KeyDown(IKeyPress("", iplug::kVK_UP));
    f.driver->KeyDown(IKeyPress("", iplug::kVK_RETURN));
    EXPECT_TRUE(f.g->IsPopupMenuOpen());
    EXPECT_EQ(overlay->OpenRow(), 0);
    f.driver->KeyDown(IKeyPress("", iplug::kVK_ESCAPE)); // the menu takes it first
    EXPECT_FALSE(f.g->IsPopupMenuOpen());
    EXPECT_FALSE(overlay->Closing());
    f.driver->KeyDown(IKeyPress("", iplug::kVK_TAB, true));
    f.driver->KeyDown(IKeyPress("", iplug::kVK_RETURN)); // on the close button
    EXPECT_TRUE(overlay->Closing());
}

} // namespace
} // namespace cv::ui
