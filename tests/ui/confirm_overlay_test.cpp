// The confirmation on the empty editor: the cancel index clamp, a backdrop click answering with it, one
// answer only, button widths, and the keys (focus starts on the cancel choice; Space never answers). Then
// every question the plug-in asks before a destructive step, dismissed over an edited capture.

#include "framework/graphics/popup_menu_control.h"
#include "plugin/corvalinth_params.h"
#include "tests/plugin/corvalinth_probe.h"
#include "tests/plugin/idle_until_settled.h"
#include "tests/ui/canvas_fixture.h"
#include "tests/ui/overlay_fixture.h"
#include "ui/editor_geometry.h"
#include "ui/ivory/controls.h"

namespace cv::ui {
namespace {

using namespace iplug::igraphics;
using iplug::IKeyPress;

struct Confirm : testing::Test {
    OverlayFixture f;
    std::vector<int> answers;
    void Open(std::vector<std::string> buttons, int cancelIndex) {
        f.confirm->OpenModal("Unsaved changes", "Save changes before continuing?", buttons, cancelIndex,
                             [this](int i) { answers.push_back(i); });
    }
};

TEST_F(Confirm, ClampsTheCancelIndexAndABackdropClickAnswersWithIt) {
    const struct { int buttons, cancel, expected; } clamp[] = {{2, 5, 1}, {3, 2, 2}, {0, 3, 0}, {2, -2, 0}};
    for (const auto& c : clamp)
        EXPECT_EQ(ClampCancelIndex(c.buttons, c.cancel), c.expected) << c.buttons << " " << c.cancel;

    Open({"Save", "Discard", "Cancel"}, 7);
    EXPECT_EQ(f.confirm->CancelIndex(), 2);
    EXPECT_FALSE(f.confirm->IsHidden());
    f.driver->Click(40, 40); // the backdrop
    EXPECT_EQ(answers, std::vector<int>{2});
    EXPECT_TRUE(f.confirm->IsHidden());

    Open({"Clear capture", "Cancel"}, 1);
    const IRECT close = ModalCloseButton(f.confirm->Panel());
    f.driver->Click(close.MW(), close.MH());
    const IRECT first = f.confirm->ButtonRect(0);
    Open({"Clear capture", "Cancel"}, 1);
    f.driver->Click(first.MW(), first.MH());
    EXPECT_EQ(answers, (std::vector<int>{2, 1, 0}));
}

TEST_F(Confirm, AnswersOnceAndLaysButtonsOutByTheirLabels) {
    Open({"OK", "Clear capture", "A label much longer than any button should grow"}, 0);
    f.confirm->Resolve(1);
    f.confirm->Resolve(0); // a second answer, as a second click during the close would give
    EXPECT_EQ(answers, std::vector<int>{1});
    // Right-aligned in index order, 10 apart: 108 at least, 7.5 per byte + 50, 166 at most.
    const float widths[] = {108.f, 147.5f, 166.f};
    for (int i = 0; i < 3; ++i)
        EXPECT_FLOAT_EQ(f.confirm->ButtonRect(i).W(), widths[i]) << i;
    EXPECT_FLOAT_EQ(f.confirm->ButtonRect(2).R, f.confirm->Panel().R - 28.f);
    EXPECT_FLOAT_EQ(f.confirm->ButtonRect(1).R, f.confirm->ButtonRect(2).L - 10.f);
}

TEST_F(Confirm, KeysStartOnTheCancelChoiceWrapAroundAndSpaceNeverAnswers) {
    Open({"Save", "Discard", "Cancel"}, 2);
    EXPECT_EQ(f.confirm->FocusIndex(), 2);
    EXPECT_TRUE(f.confirm->FocusVisible());
    const IKeyPress tab("", iplug::kVK_TAB), shiftTab("", iplug::kVK_TAB, true);
    const IKeyPress left("", iplug::kVK_LEFT), right("", iplug::kVK_RIGHT);
    EXPECT_TRUE(f.driver->KeyDown(tab));
    EXPECT_EQ(f.confirm->FocusIndex(), 0);
    EXPECT_TRUE(f.driver->KeyDown(shiftTab)); // from 0 on three buttons: 2
    EXPECT_EQ(f.confirm->FocusIndex(), 2);
    f.driver->KeyDown(right);
    f.driver->KeyDown(right);
    EXPECT_EQ(f.confirm->FocusIndex(), 1);
    f.driver->KeyDown(left);
    EXPECT_EQ(f.confirm->FocusIndex(), 0);
    EXPECT_TRUE(f.driver->KeyDown(IKeyPress(" ", iplug::kVK_SPACE)));
    EXPECT_TRUE(f.driver->KeyDown(IKeyPress("z", 'Z', false, true)));
    EXPECT_TRUE(answers.empty());
    EXPECT_FALSE(f.confirm->IsHidden());
    f.driver->KeyDown(IKeyPress("", iplug::kVK_RETURN));
    EXPECT_EQ(answers, std::vector<int>{0});

    Open({"Replace", "Cancel"}, 1);
    f.driver->KeyDown(IKeyPress("", iplug::kVK_RETURN)); // the focus opened on Cancel
    Open({"Replace", "Cancel"}, 1);
    f.driver->KeyDown(tab);
    f.driver->KeyDown(IKeyPress("", iplug::kVK_ESCAPE));
    EXPECT_EQ(answers, (std::vector<int>{0, 1, 1}));
}

TEST(ConfirmQuestions, EscapeABackdropClickOrTheCloseMarkKeepsTheCaptureAndItsEdits) {
    np::Document doc = cvtest::CanvasDocument({{48000, 24000, 60.0}, {96000, 24000, 64.0}});
    auto audio = doc.audio;
    cvtest::PluginCanvasRig rig(std::move(doc));
    CorvalinthProbe::replaceSource(*rig.plugin, audio);
    rig.host->configure({48000.0, 512, 1, 1}); // a capture could arm at once
    rig.host->processBlock({512, 0.0, false});
    rig.host->idle();
    const std::uint32_t id = 1;
    ASSERT_TRUE(rig.Session().addGainDb({&id, 1}, -3.0));
    rig.plugin->OnDocumentEdited();

    const EditorGeometry e =
        ComputeEditorGeometry(1280.f, 816.f, rig.g->GetMouseControl(80, 81)->GetRECT().W());
    auto click = [&](const IRECT& r) { rig.driver->Click(r.MW(), r.MH()); };
    ivory::IvoryDropdown* algo = nullptr;
    for (int i = 0; i < rig.g->NControls(); ++i)
        if (auto* chip = dynamic_cast<ivory::IvoryDropdown*>(rig.g->GetControl(i));
            chip != nullptr && chip->GetParamIdx() == kParamAlgorithm)
            algo = chip;
    ASSERT_NE(algo, nullptr);
    auto* confirm = dynamic_cast<ConfirmOverlay*>(rig.Tagged(kTagConfirm));
    const struct {
        const char* destructive; // the question's first button
        std::function<void()> ask;
    } questions[] = {
        {"Replace", [&] { click(e.capture); }},
        {"Clear capture", [&] { click(e.clear); }},
        {"Change algorithm",
         [&] {
             click(algo->GetRECT());
             click(rig.g->GetPopupMenuControl()->GetItemRECT(1)); // "Percussive"
             rig.host->idle();                                    // the change is taken in: it asks
         }},
    };
    const struct {
        const char* how;
        std::function<void()> dismiss;
    } dismissals[] = {
        {"Escape", [&] { rig.driver->KeyDown(IKeyPress("", iplug::kVK_ESCAPE)); }},
        {"a click outside the panel", [&] { rig.driver->Click(20, 20); }},
        {"the close mark", [&] { click(ModalCloseButton(confirm->Panel())); }},
    };
    for (const auto& q : questions)
        for (const auto& d : dismissals) {
            SCOPED_TRACE(std::string(q.destructive) + ", " + d.how);
            rig.driver->AdvanceMs(1000); // no press here is half of a double-click
            q.ask();
            ASSERT_FALSE(confirm->IsHidden());
            EXPECT_EQ(confirm->Buttons().front(), q.destructive);
            d.dismiss();
            // A wrong answer arms the capture only once the edit's render is done.
            ASSERT_TRUE(cvtest::idleUntilSettled(*rig.host, *rig.plugin));
            EXPECT_TRUE(confirm->IsHidden());
            EXPECT_FALSE(CorvalinthProbe::capture(*rig.plugin).isActive());
            EXPECT_EQ(rig.plugin->GetParam(kParamAlgorithm)->Int(), 0);
            EXPECT_EQ(CorvalinthProbe::source(*rig.plugin), audio);
            EXPECT_EQ(rig.Session().document().audio, audio);
            ASSERT_EQ(rig.Session().document().notes.size(), 2u);
            EXPECT_EQ(rig.Note(1).gainDb, -3.0);
            EXPECT_EQ(rig.Session().undoStates().size(), 1u); // the edit can still be undone
        }
}

} // namespace
} // namespace cv::ui
