// Event routing of the graphics context: double-clicks, capture, over and out, hidden, disabled and
// ignore-mouse controls, z-order, wheel, keys, popup menus, tooltips and the frame tick.

#include "framework/graphics/icontrol.h"
#include "framework/graphics/popup_menu_control.h"
#include "framework/graphics/testing/test_driver.h"

#include <functional>
#include <gtest/gtest.h>

namespace iplug::igraphics {
namespace {

// Writes every event it gets into a shared log as "name:Event".
class Recorder : public IControl {
public:
    Recorder(const IRECT& r, std::string name, std::vector<std::string>& log)
        : IControl(r), mName(std::move(name)), mLog(log) {}
    void Draw(IGraphics&) override {}
    void OnMouseDown(float, float, const IMouseMod&) override { Log("Down"); }
    void OnMouseUp(float, float, const IMouseMod&) override { Log("Up"); }
    void OnMouseDblClick(float, float, const IMouseMod&) override { Log("Dbl"); }
    void OnMouseDrag(float, float, float dX, float dY, const IMouseMod& mod) override {
        Log("Drag");
        dragX += dX;
        dragY += dY;
        dragsHeldLeft = dragsHeldLeft && mod.L;
    }
    void OnMouseOver(float x, float y, const IMouseMod& mod) override {
        IControl::OnMouseOver(x, y, mod);
        Log("Over");
    }
    void OnMouseOut() override {
        IControl::OnMouseOut();
        Log("Out");
    }
    void OnMouseWheel(float, float, const IMouseMod&, float) override { Log("Wheel"); }
    bool OnKeyDown(float, float, const IKeyPress&) override {
        Log("Key");
        return true;
    }
    void OnPopupMenuSelection(IPopupMenu* menu, int) override {
        Log(menu ? "Chose" + std::to_string(menu->GetChosenItemIdx()) : std::string("Dismissed"));
    }
    float dragX = 0.f, dragY = 0.f;
    bool dragsHeldLeft = true;

private:
    void Log(const std::string& event) { mLog.push_back(mName + ":" + event); }
    std::string mName;
    std::vector<std::string>& mLog;
};

class Routing : public testing::Test {
protected:
    Routing() : g(MakeOffscreenGraphics(nullptr, 200, 100, 60, 1.f)), d(*g) {
        a = g->AttachControl(std::make_unique<Recorder>(IRECT(0, 0, 100, 100), "a", log));
        b = g->AttachControl(std::make_unique<Recorder>(IRECT(100, 0, 200, 100), "b", log));
    }
    // The log since the last call, as one string.
    std::string Take() {
        std::string s;
        for (const std::string& e : log)
            s += (s.empty() ? "" : " ") + e;
        log.clear();
        return s;
    }
    std::vector<std::string> log;
    std::unique_ptr<IGraphics> g;
    TestDriver d;
    Recorder* a = nullptr;
    Recorder* b = nullptr;
};

TEST_F(Routing, SecondClickOfADoubleClickDeliversOnlyTheDoubleClick) {
    IPopupMenu menu({"16-bit WAV", "24-bit WAV"}, 0);
    d.MouseMove(50, 50);
    Take();
    d.DoubleClick(50, 50);
    EXPECT_EQ(Take(), "a:Down a:Up a:Dbl a:Up");
    d.AdvanceMs(100);
    d.Click(50, 50); // a third click starts afresh
    EXPECT_EQ(Take(), "a:Down a:Up");
    struct Case {
        const char* what;
        double gapMs;
        float dx;
        const char* expected;
    } pairs[] = {{"at the time limit", 400.0, 0.f, "a:Down a:Up a:Dbl a:Up"},
                 {"too slow", 401.0, 0.f, "a:Down a:Up a:Down a:Up"},
                 {"at the distance limit", 100.0, 4.f, "a:Down a:Up a:Over a:Dbl a:Up"},
                 {"too far", 100.0, 5.f, "a:Down a:Up a:Over a:Down a:Up"}};
    for (const Case& c : pairs) {
        SCOPED_TRACE(c.what);
        d.AdvanceMs(1000);
        d.MouseMove(50, 50);
        Take();
        d.Click(50, 50);
        d.AdvanceMs(c.gapMs);
        d.Click(50 + c.dx, 50);
        EXPECT_EQ(Take(), c.expected);
    }
    d.AdvanceMs(1000);
    d.Click(95, 50);
    d.AdvanceMs(50);
    d.Click(99, 50);
    d.Click(101, 50); // close in time and place, but another control
    EXPECT_EQ(Take(), "a:Over a:Down a:Up a:Over a:Dbl a:Up a:Out b:Over b:Down b:Up");
    // A press that a popup menu took is no first click: a quick press after it is a single click.
    d.AdvanceMs(1000);
    d.Click(5, 50);
    g->CreatePopupMenu(a, menu, IRECT(10, 10, 90, 20));
    d.AdvanceMs(100);
    d.Click(5, 50); // outside the menu: dismisses it
    d.AdvanceMs(100);
    d.Click(5, 50);
    EXPECT_EQ(Take(), "b:Out a:Over a:Down a:Up a:Dismissed a:Down a:Up");
    d.AdvanceMs(1000);
    a->SetDblAsSingleClick(true);
    d.DoubleClick(50, 50);
    EXPECT_EQ(Take(), "a:Over a:Down a:Up a:Down a:Up");
}

TEST_F(Routing, APressCapturesTheControlUntilTheRelease) {
    d.MouseDown(50, 50);
    d.MouseMove(150, 60); // over b, and beyond the window
    d.MouseMove(250, 120);
    d.MouseUp(250, 120);
    // Deltas are per event, in design units; b hears nothing until the drag ends.
    EXPECT_EQ(Take(), "a:Over a:Down a:Drag a:Drag a:Up");
    EXPECT_FLOAT_EQ(a->dragX, 200.f);
    EXPECT_FLOAT_EQ(a->dragY, 70.f);
    EXPECT_TRUE(a->dragsHeldLeft); // the moves between press and release carry the held button
    d.MouseMove(150, 50);
    EXPECT_EQ(Take(), "a:Out b:Over");
}

TEST_F(Routing, OverAndOutFollowThePointer) {
    d.MouseMove(10, 10);
    d.MouseMove(20, 10); // every move over a control tells it again
    d.MouseMove(150, 10);
    d.MouseLeave();
    EXPECT_EQ(Take(), "a:Over a:Over a:Out b:Over b:Out");
    EXPECT_FALSE(b->GetMouseIsOver());
}

TEST_F(Routing, HiddenIgnoringAndDisabledControls) {
    Recorder* top = g->AttachControl(std::make_unique<Recorder>(IRECT(0, 0, 200, 100), "top", log));
    struct Case {
        const char* what;
        bool hide, ignore, disable;
        const char* expected;
    } cases[] = {
        {"visible on top takes it", false, false, false, "top:Over top:Down top:Up top:Wheel"},
        {"hidden is skipped", true, false, false, "a:Over a:Down a:Up a:Wheel"},
        {"ignoring the mouse is skipped", false, true, false, "a:Over a:Down a:Up a:Wheel"},
        {"disabled gets nothing and shields what is under it", false, false, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        top->Hide(c.hide);
        top->SetIgnoreMouse(c.ignore);
        top->SetDisabled(c.disable);
        d.MouseLeave();
        d.AdvanceMs(1000);
        Take();
        d.MouseMove(50, 50);
        d.Click(50, 50);
        d.Wheel(50, 50, 1.f);
        EXPECT_EQ(Take(), c.expected);
    }
}

TEST_F(Routing, WheelAndKeysReachTheControlUnderThePointerAfterTheKeyHandler) {
    d.Wheel(150, 50, 2.f);
    EXPECT_EQ(Take(), "b:Over b:Wheel");
    std::vector<std::string> keys;
    g->SetKeyHandlerFunc([&](const IKeyPress& key, bool isUp) {
        keys.push_back(std::string(isUp ? "up:" : "down:") + key.utf8.data());
        return key.utf8[0] == 'z';
    });
    EXPECT_TRUE(d.KeyDown(IKeyPress("z", 'Z', false, true)));
    EXPECT_EQ(Take(), ""); // the handler consumed it
    EXPECT_TRUE(d.KeyDown(IKeyPress("q", 'Q')));
    EXPECT_EQ(Take(), "b:Key");
    EXPECT_FALSE(d.KeyUp(IKeyPress("q", 'Q')));
    EXPECT_EQ(keys, (std::vector<std::string>{"down:z", "down:q", "up:q"}));
}

TEST_F(Routing, AnOverlayOnTopIsModalWhileShown) {
    Recorder* overlay = g->AttachControl(std::make_unique<Recorder>(g->GetBounds(), "overlay", log));
    d.Click(150, 50);
    EXPECT_EQ(Take(), "overlay:Over overlay:Down overlay:Up");
    overlay->Hide(true);
    d.MouseMove(151, 50);
    d.Click(151, 50);
    EXPECT_EQ(Take(), "overlay:Out b:Over b:Down b:Up");
}

TEST_F(Routing, AModalControlHearsMovesAsMovesAndTakesEveryEvent) {
    d.MouseMove(50, 50);
    g->ShowModalControl(std::make_unique<Recorder>(g->GetBounds(), "modal", log));
    Take();
    struct Case {
        const char* what;
        std::function<void()> act;
        const char* expected;
    } cases[] = {
        {"a move outside any press is a move", [&] { d.MouseMove(150, 50); }, "modal:Over"},
        {"a press captures until the release",
         [&] {
             d.MouseDown(150, 60);
             d.MouseMove(160, 60);
             d.MouseUp(160, 60);
         },
         "modal:Over modal:Down modal:Drag modal:Up"},
        {"moves after the release are moves again", [&] { d.MouseMove(40, 40); }, "modal:Over"},
        {"a key", [&] { d.KeyDown(IKeyPress("q", 'Q')); }, "modal:Key"},
        {"the wheel goes nowhere", [&] { d.Wheel(40, 40, 1.f); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.act();
        EXPECT_EQ(Take(), c.expected);
    }
    d.Tick();
    g->CloseModalControl();
    EXPECT_TRUE(d.Tick()); // what it covered is drawn again
    d.MouseMove(150, 50);
    EXPECT_EQ(Take(), "a:Out b:Over");
}

TEST_F(Routing, PopupMenusAreModalAndKeyDriven) {
    g->AttachPopupMenuControl(IText(15.f), g->GetBounds());
    IPopupMenu menu({"16-bit WAV", "24-bit WAV", "32-bit float WAV"}, 1);
    menu.AddSeparator();
    menu.AddItem("Disabled").enabled = false;
    menu.AddItem("MIDI notes (.mid)");
    struct Case {
        const char* what;
        std::vector<int> keys;
        const char* expected;
    } cases[] = {
        {"Enter takes the checked item", {kVK_RETURN}, "a:Chose1"},
        {"Down skips the separator and disabled items", {kVK_DOWN, kVK_DOWN, kVK_RETURN}, "a:Chose5"},
        {"Down stops at the last item", {kVK_DOWN, kVK_DOWN, kVK_DOWN, kVK_RETURN}, "a:Chose5"},
        {"Up from the top stays there", {kVK_UP, kVK_UP, kVK_UP, kVK_RETURN}, "a:Chose0"},
        {"Escape dismisses", {kVK_ESCAPE}, "a:Dismissed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g->CreatePopupMenu(a, menu, IRECT(10, 10, 90, 20));
        ASSERT_TRUE(g->IsPopupMenuOpen());
        Take();
        for (int vk : c.keys)
            EXPECT_TRUE(d.KeyDown(IKeyPress("", vk)));
        EXPECT_EQ(Take(), c.expected);
        EXPECT_FALSE(g->IsPopupMenuOpen());
    }
    // A press outside cancels without reaching the control under it; a release on an item chooses it.
    g->CreatePopupMenu(a, menu, IRECT(10, 10, 90, 20));
    Take();
    d.Click(190, 90);
    EXPECT_EQ(Take(), "a:Dismissed");
    g->CreatePopupMenu(a, menu, IRECT(10, 10, 90, 20));
    const IRECT item = g->GetPopupMenuControl()->GetItemRECT(2);
    d.Click(item.MW(), item.MH());
    EXPECT_EQ(Take(), "a:Chose2");
    // A menu that would run off the bottom opens above its anchor.
    g->CreatePopupMenu(a, menu, IRECT(10, 80, 90, 90));
    EXPECT_LE(g->GetPopupMenuControl()->GetItemRECT(0).B, 80.f);
    d.KeyDown(IKeyPress("", kVK_ESCAPE));
    Take();
    // A menu function takes the choice instead of the caller.
    int chosen = -2;
    menu.SetFunction([&](IPopupMenu* m) { chosen = m ? m->GetChosenItemIdx() : -1; });
    g->CreatePopupMenu(a, menu, IRECT(10, 10, 90, 20));
    d.KeyDown(IKeyPress("", kVK_ESCAPE));
    EXPECT_EQ(chosen, -1);
    EXPECT_EQ(Take(), "");
}

TEST_F(Routing, TooltipsShowAfterThePointerRests) {
    a->SetTooltip("Capture audio");
    d.MouseMove(50, 50);
    d.Tick();
    EXPECT_EQ(d.Tooltip(), "");
    d.AdvanceMs(499);
    d.Tick();
    EXPECT_EQ(d.Tooltip(), "");
    g->EnableTooltips(true);
    d.AdvanceMs(1);
    d.Tick();
    EXPECT_EQ(d.Tooltip(), "Capture audio");
    d.MouseMove(150, 50); // b has none
    d.AdvanceMs(600);
    d.Tick();
    EXPECT_EQ(d.Tooltip(), "");
    d.MouseMove(50, 50);
    d.MouseDown(50, 50);
    d.AdvanceMs(600);
    d.Tick();
    EXPECT_EQ(d.Tooltip(), ""); // not while dragging
}

TEST_F(Routing, ATooltipBelongsToTheControlUnderThePointerAndNeverCoversAnOverlay) {
    g->EnableTooltips(true);
    g->AttachPopupMenuControl(IText(15.f), g->GetBounds());
    a->SetTooltip("Export");
    Recorder* overlay = g->AttachControl(std::make_unique<Recorder>(g->GetBounds(), "overlay", log));
    overlay->Hide(true);
    IPopupMenu menu({"16-bit WAV", "24-bit WAV"}, 0);
    const struct {
        const char* what;
        std::function<void()> act;
    } cases[] = {
        {"a menu choice made away from the control",
         [&] {
             g->CreatePopupMenu(a, menu, IRECT(110, 10, 190, 20));
             const IRECT item = g->GetPopupMenuControl()->GetItemRECT(1);
             ASSERT_FALSE(a->GetRECT().Contains(item.MW(), item.MH()));
             d.Click(item.MW(), item.MH());
         }},
        {"an overlay shown over the control", [&] { overlay->Hide(false); }},
        {"a modal control",
         [&] { g->ShowModalControl(std::make_unique<Recorder>(g->GetBounds(), "m", log)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        d.MouseMove(150, 50);
        d.MouseMove(50, 50);
        d.AdvanceMs(600);
        d.Tick();
        ASSERT_EQ(d.Tooltip(), "Export");
        c.act();
        d.AdvanceMs(600);
        d.Tick();
        EXPECT_EQ(d.Tooltip(), "");
        overlay->Hide(true);
        g->CloseModalControl();
    }
}

TEST_F(Routing, FrameTickAsksEveryControlAndRunsAnimationsOnTheClock) {
    struct Counting : IControl {
        explicit Counting(int& asked) : IControl(IRECT()), mAsked(asked) {}
        void Draw(IGraphics&) override {}
        bool IsDirty() override {
            ++mAsked;
            return IControl::IsDirty();
        }
        int& mAsked;
    };
    int asked = 0;
    g->AttachControl(std::make_unique<Counting>(asked));
    g->AttachControl(std::make_unique<Counting>(asked));
    EXPECT_TRUE(d.Tick()); // everything starts dirty
    EXPECT_EQ(asked, 2);   // both asked though the first was dirty
    EXPECT_FALSE(d.Tick());
    int ended = 0;
    a->SetAnimationEndActionFunction([&](IControl*) { ++ended; });
    a->SetAnimation(DefaultAnimationFunc, DEFAULT_ANIMATION_DURATION);
    d.AdvanceMs(50);
    EXPECT_TRUE(d.Tick());
    EXPECT_NEAR(a->GetAnimationProgress(), 0.5, 1e-9);
    d.AdvanceMs(50);
    EXPECT_TRUE(d.Tick());
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(a->GetAnimationFunction());
    d.Tick();
    EXPECT_FALSE(d.Tick()); // settled
}

TEST_F(Routing, PlatformServicesGoThroughOneInterface) {
    d.SetClipboardRefuses(true);
    EXPECT_FALSE(g->SetTextInClipboard("diagnostics"));
    d.SetClipboardRefuses(false);
    EXPECT_TRUE(g->SetTextInClipboard("diagnostics"));
    EXPECT_EQ(d.Clipboard(), "diagnostics");
    EXPECT_TRUE(g->OpenURL("https://example.invalid/changelog"));
    EXPECT_EQ(d.OpenedURLs().back(), "https://example.invalid/changelog");
    std::string replaced = "none", chosen = "none";
    g->PromptForFile({EFileAction::Open, "take.wav", "", "wav"}, [&](const std::string& p) { replaced = p; });
    g->PromptForFile({EFileAction::Save, "take-edited.wav", "", "wav"},
                     [&](const std::string& p) { chosen = p; });
    EXPECT_EQ(replaced, ""); // the newer prompt cancelled the one still open
    ASSERT_TRUE(d.FilePromptPending());
    EXPECT_EQ(d.FilePrompts().back().defaultName, "take-edited.wav");
    d.CompleteFilePrompt("/tmp/take-edited.wav");
    EXPECT_EQ(chosen, "/tmp/take-edited.wav");
    g->SetMouseCursor(ECursor::HAND);
    EXPECT_EQ(d.Cursor(), ECursor::HAND);
}

} // namespace
} // namespace iplug::igraphics
