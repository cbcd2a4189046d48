// The confirmation on the empty editor: the cancel index clamp, a backdrop click answering with it, one
// answer only, button widths, and the keys (focus starts on the cancel choice; Space never answers).

#include "tests/ui/overlay_fixture.h"

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

} // namespace
} // namespace cv::ui
