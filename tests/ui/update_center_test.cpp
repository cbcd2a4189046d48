// The software-updates overlay: the page for every status, its buttons through a stand-in check and the
// driver's recording URL opener, the keys, and the page following a real check flow with a stand-in fetch.

#include "tests/ui/overlay_fixture.h"

#include <thread>

namespace cv::ui {
namespace {

using namespace iplug::igraphics;
using iplug::IKeyPress;
using Word = UpdateStatusWord;

struct Updates : testing::Test {
    OverlayFixture f;
    UpdateCenterOverlay* o = nullptr;
    Updates() : o(f.updateCenter) { o->OpenModal(); }
    void Press(int button) { f.driver->Click(o->ButtonRect(button).MW(), o->ButtonRect(button).MH()); }
};

TEST_F(Updates, EveryStatusShowsItsPage) {
    const std::vector<std::string> checkClose{"Check for updates", "Close"};
    const struct {
        Word status;
        std::string version;
        int page;
        std::string headline, statusLine;
        std::vector<std::string> buttons;
    } pages[] = {
        {Word::Nothing, "", 3, "Is there a newer Corvalinth?", "Version 1.0.0 installed", checkClose},
        {Word::Checking,
         "",
         4,
         "Checking for updates\xE2\x80\xA6",
         "Checking updates.corvalinth.com\xE2\x80\xA6",
         {"Checking\xE2\x80\xA6"}},
        {Word::UpToDate, "", 5, "You're up to date", "Up to date", checkClose},
        {Word::UpdateAvailable,
         "1.1.0",
         6,
         "Corvalinth 1.1.0 is ready",
         "A signed installer is ready to download",
         {"Download update", "Release notes", "Not now"}},
        {Word::UpdateAvailable,
         "",
         6,
         "Corvalinth update is ready",
         "A signed installer is ready to download",
         {"Download update", "Release notes", "Not now"}},
        {Word::Error, "", 7, "Couldn't check for updates", "Update check failed", {"Try again", "Close"}},
    };
    for (const auto& p : pages) {
        SCOPED_TRACE(p.headline);
        f.updates.status = p.status;
        f.updates.result.version = p.version;
        const UpdatePage page = o->CurrentPage();
        EXPECT_EQ(page.page, p.page);
        EXPECT_EQ(page.headline, p.headline);
        EXPECT_EQ(page.statusLine, p.statusLine);
        EXPECT_EQ(page.buttons, p.buttons);
    }
    UpdateCheckResult failed;
    failed.message = "The update check timed out.";
    EXPECT_EQ(UpdatePageFor(Word::Error, failed).note, "The update check timed out.");
}

TEST_F(Updates, ButtonsCheckOpenAddressesAndClose) {
    f.driver->RunFrames(10);
    f.updates.status = Word::UpToDate; // a check that finished elsewhere: the page turns by itself
    EXPECT_TRUE(o->IsDirty());
    f.driver->Tick();
    EXPECT_FALSE(o->IsDirty());
    Press(0); // "Check for updates"
    EXPECT_EQ(f.updates.checks, 1);
    EXPECT_EQ(o->CurrentPage().headline, "Checking for updates\xE2\x80\xA6");
    Press(0); // "Checking…" starts nothing more
    EXPECT_EQ(f.updates.checks, 1);

    f.updates.status = Word::Error;
    Press(0); // "Try again"
    EXPECT_EQ(f.updates.checks, 2);
    EXPECT_EQ(o->CurrentPage().page, 4);

    f.updates.status = Word::UpdateAvailable;
    f.updates.result.downloadUrl = "https://updates.corvalinth.com/download/1.1.0.pkg";
    Press(0);
    Press(1); // no release-notes address: the maker's change-log page
    EXPECT_EQ(f.driver->OpenedURLs(),
              (std::vector<std::string>{f.updates.result.downloadUrl, kMakerChangelogUrl}));
    EXPECT_TRUE(std::string_view(kMakerChangelogUrl).ends_with("/changelog"));
    f.driver->SetOpenURLSucceeds(false);
    Press(0);
    EXPECT_EQ(o->StatusText(), "Couldn't open the browser");
    Press(2); // "Not now"
    f.driver->RunFrames(6);
    EXPECT_TRUE(o->IsHidden());
    EXPECT_EQ(f.updates.dismissals, 1);
    o->OpenModal();
    EXPECT_EQ(o->StatusText(), "");
}

TEST_F(Updates, KeysCycleOverTheButtonsAndTheCloseButton) {
    f.updates.status = Word::UpdateAvailable; // three buttons: four places
    const IKeyPress tab("", iplug::kVK_TAB), shiftTab("", iplug::kVK_TAB, true), enter("", iplug::kVK_RETURN);
    f.driver->KeyDown(shiftTab);
    EXPECT_EQ(o->FocusIndex(), 3);
    f.driver->KeyDown(tab);
    f.driver->KeyDown(tab);
    EXPECT_EQ(o->FocusIndex(), 1);
    f.driver->KeyDown(enter); // "Release notes"
    EXPECT_EQ(f.driver->OpenedURLs(), std::vector<std::string>{kMakerChangelogUrl});
    f.updates.status = Word::Checking;
    f.driver->KeyDown(IKeyPress(" ", iplug::kVK_SPACE)); // the checking page closes
    EXPECT_TRUE(o->Closing());
    EXPECT_EQ(f.updates.checks, 0);
    // Also with the focus on its inert "Checking…" button.
    f.driver->RunFrames(6);
    o->OpenModal();
    ASSERT_EQ(o->FocusIndex(), 0);
    f.driver->KeyDown(enter);
    EXPECT_TRUE(o->Closing());
}

TEST(UpdateCenterFlow, ThePageFollowsACheckFlowWithAStandInFetch) {
    OverlayFixture f;
    UpdateCheckFlow flow(
        [](const std::string&, std::size_t, int, const UpdateCancellation&, std::string& body, std::string&) {
            body = R"({"schema":"1","version":"1.0.1","downloadUrl":"https://updates.corvalinth.com/d",)"
                   R"("releaseNotesUrl":"https://updates.corvalinth.com/n","sha256":")" +
                   std::string(64, 'a') + "\"}";
            return true;
        });
    auto* o = f.Replace(kTagUpdates,
                        std::make_unique<UpdateCenterOverlay>(IRECT(0, 0, 1280, 816), UpdateModelFor(flow)));
    o->OpenModal();
    o->RunAction(0, o->CurrentPage().page);
    EXPECT_EQ(o->CurrentPage().page, 4);
    while (flow.checkRunning()) // the fetch returns at once; the check thread only parses
        std::this_thread::yield();
    flow.poll();
    EXPECT_EQ(o->CurrentPage().headline, "Corvalinth 1.0.1 is ready");
    o->RunAction(0, 6);
    EXPECT_EQ(f.driver->OpenedURLs(), std::vector<std::string>{"https://updates.corvalinth.com/d"});
}

} // namespace
} // namespace cv::ui
