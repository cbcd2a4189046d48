// The software-updates overlay: the page for every status, its buttons through a stand-in check and the
// driver's recording URL opener, the keys, the page following a real check flow with a stand-in fetch, and
// the way to it from the preferences with a check over the real fetch that finds no service.

#include "plugin/update_fetch_curl.h"
#include "tests/ui/overlay_fixture.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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
    f.updates.status = Word::Error; // refused at once: a quick second press at the same spot tries again
    Press(0);
    EXPECT_EQ(f.updates.checks, 3);

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

// A loopback port that was free a moment ago and has nobody listening: a machine without the service.
int ClosedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

TEST(UpdateCenterRoad, ThePreferencesOpenItByMouseAndKeysAndACheckWithoutTheServiceFails) {
    // The fetch honours proxy settings like any client; the closed port must be tried directly.
    for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        ::unsetenv(name);
    EditorFixture f; // the editor's own overlays, wired as the layout wires them
    HttpsFetchSettings settings = updateServiceFetchSettings();
    settings.connectAddress = "127.0.0.1";
    settings.connectPort = ClosedLoopbackPort();
    ASSERT_NE(settings.connectPort, 0);
    UpdateCheckFlow flow(makeHttpsFetch(settings));
    f.g->RemoveControl(f.Tagged(kTagUpdates));
    auto* updates = f.g->AttachControl(
        std::make_unique<UpdateCenterOverlay>(IRECT(0, 0, 1280, 816), UpdateModelFor(flow)), kTagUpdates);
    auto* prefs = dynamic_cast<PrefsOverlay*>(f.Tagged(kTagPrefs));
    ASSERT_NE(prefs, nullptr);
    const IKeyPress tab("", iplug::kVK_TAB), shiftTab("", iplug::kVK_TAB, true), up("", iplug::kVK_UP);
    const struct {
        const char* road;
        std::vector<IKeyPress> keys; // none: a click on the button
    } roads[] = {
        {"a click on the footer's button", {}},
        {"Shift+Tab twice, then Enter", {shiftTab, shiftTab, IKeyPress("", iplug::kVK_RETURN)}},
        {"Tab six times, then Space", {tab, tab, tab, tab, tab, IKeyPress(" ", iplug::kVK_SPACE)}},
        {"Up twice, then Enter", {up, up, IKeyPress("", iplug::kVK_RETURN)}},
    };
    for (const auto& r : roads) {
        SCOPED_TRACE(r.road);
        prefs->OpenModal();
        if (r.keys.empty())
            f.driver->Click(prefs->UpdatesButton().MW(), prefs->UpdatesButton().MH());
        for (const IKeyPress& key : r.keys)
            f.driver->KeyDown(key);
        EXPECT_TRUE(prefs->Closing());
        ASSERT_FALSE(updates->IsHidden());
        EXPECT_FALSE(updates->Closing());
        f.driver->KeyDown(tab); // the keys are the updates overlay's now
        EXPECT_EQ(updates->FocusIndex(), 1);
        EXPECT_TRUE(updates->FocusVisible());
        f.driver->KeyDown(IKeyPress("", iplug::kVK_ESCAPE));
        EXPECT_TRUE(updates->Closing());
        f.driver->AdvanceMs(kModalCloseMs + 10);
        f.driver->Tick(); // both fades have ended
        EXPECT_TRUE(prefs->IsHidden());
        EXPECT_TRUE(updates->IsHidden());
    }

    f.driver->AdvanceMs(1000); // not a double-click with the first road's click
    prefs->OpenModal();
    f.driver->Click(prefs->UpdatesButton().MW(), prefs->UpdatesButton().MH());
    f.driver->Click(updates->ButtonRect(0).MW(), updates->ButtonRect(0).MH()); // "Check for updates"
    EXPECT_EQ(updates->CurrentPage().page, 4);
    while (flow.checkRunning()) // a refused connection ends the fetch at once
        std::this_thread::yield();
    flow.poll();
    EXPECT_TRUE(updates->IsDirty()); // the page turns by itself
    const UpdatePage page = updates->CurrentPage();
    EXPECT_EQ(page.headline, "Couldn't check for updates");
    EXPECT_EQ(page.note, "Couldn't connect to the update service.");
    EXPECT_EQ(page.buttons, (std::vector<std::string>{"Try again", "Close"}));
}

} // namespace
} // namespace cv::ui
