// The control bases and their parameter link: values the user sets reach the delegate inside host
// gestures, values the delegate sends show without echo, and each base's press, drag and menu behaviour.

#include "framework/graphics/basic_controls.h"
#include "framework/graphics/caption_control.h"
#include "framework/graphics/corner_resizer.h"
#include "framework/graphics/offscreen.h"
#include "framework/graphics/popup_menu_control.h"
#include "framework/graphics/tab_switch_control.h"
#include "framework/graphics/testing/test_driver.h"

#include <gtest/gtest.h>

namespace iplug::igraphics {
namespace {

// Two parameters, "Volume" (0..100, default 50) and "Scale" (three texts), and a log of what the
// editor sent; the make-graphics hook makes an offscreen 200 x 100 editor.
class FakeDelegate : public IEditorDelegate {
public:
    FakeDelegate() : IEditorDelegate(2) {
        GetParam(0)->InitDouble("Volume", 50.0, 0.0, 100.0, 0.1, "%");
        GetParam(1)->InitEnum("Scale", 0, {"Chromatic", "Major", "Minor"});
        mMakeGraphicsFunc = [this] { return MakeGraphics(*this, 200, 100, 60, 1.f); };
        mLayoutFunc = [this](IGraphics* g) { layouts += g != nullptr; };
    }
    void SendParameterValueFromUI(int paramIdx, double value) override {
        log += "send" + std::to_string(paramIdx) + "=" + std::to_string(value).substr(0, 5) + " ";
        GetParam(paramIdx)->SetNormalized(value);
    }
    void BeginInformHostOfParamChangeFromUI(int paramIdx) override {
        log += "begin" + std::to_string(paramIdx) + " ";
    }
    void EndInformHostOfParamChangeFromUI(int paramIdx) override {
        log += "end" + std::to_string(paramIdx) + " ";
    }
    std::string Take() {
        std::string s = log;
        log.clear();
        return s;
    }
    std::string log;
    int layouts = 0;
};

class Controls : public testing::Test {
protected:
    Controls() {
        delegate.OpenWindow(nullptr);
        g = delegate.GetUI();
        driver = std::make_unique<TestDriver>(*g);
    }
    ~Controls() override {
        driver.reset();
        delegate.CloseWindow();
    }
    FakeDelegate delegate;
    IGraphics* g = nullptr;
    std::unique_ptr<TestDriver> driver;
};

// The bases draw nothing of their own.
template <class Base>
class Plain : public Base {
public:
    using Base::Base;
    void Draw(IGraphics&) override {}
};
using Slider = Plain<ISliderControlBase>;
using Button = Plain<IButtonControlBase>;
using Switch = Plain<ISwitchControlBase>;

TEST_F(Controls, TheDelegateOpensAnEditorThatLinkedControlsFollow) {
    EXPECT_EQ(delegate.layouts, 1);
    auto* slider =
        g->AttachControl(std::make_unique<Slider>(IRECT(0, 0, 100, 20), 0, EDirection::Horizontal));
    EXPECT_DOUBLE_EQ(slider->GetValue(), 0.5); // starts at its parameter's value
    delegate.SendParameterValueFromDelegate(0, 80.0, false);
    EXPECT_DOUBLE_EQ(slider->GetValue(), 0.8);
    EXPECT_EQ(delegate.Take(), ""); // shown, not sent back
}

TEST_F(Controls, SliderDragsRelativelyWithGearingInOneGesture) {
    auto* slider =
        g->AttachControl(std::make_unique<Slider>(IRECT(0, 0, 100, 20), 0, EDirection::Horizontal, 4.0));
    driver->MouseDown(90, 10); // a press far right does not jump there
    EXPECT_DOUBLE_EQ(slider->GetValue(), 0.5);
    driver->MouseMove(110, 10); // 20 units over a 100-unit track, geared 4: +0.05
    EXPECT_NEAR(slider->GetValue(), 0.55, 1e-9);
    driver->MouseMove(130, 10, IMouseMod(true, false, false, true)); // Ctrl: ten times finer
    EXPECT_NEAR(slider->GetValue(), 0.555, 1e-9);
    driver->MouseMove(2000, 10); // clamped, and back down at once from the top
    driver->MouseMove(1960, 10);
    EXPECT_NEAR(slider->GetValue(), 0.9, 1e-9);
    driver->MouseUp(1960, 10);
    EXPECT_EQ(delegate.Take(), "begin0 send0=0.550 send0=0.555 send0=1.000 send0=0.900 end0 ");
    driver->AdvanceMs(1000);
    driver->DoubleClick(50, 10); // restores the default
    EXPECT_DOUBLE_EQ(slider->GetValue(), 0.5);
    EXPECT_DOUBLE_EQ(delegate.GetParam(0)->Value(), 50.0);
    // A vertical slider rises as the pointer goes up.
    auto* vertical = g->AttachControl(std::make_unique<Slider>(IRECT(150, 0, 170, 100), kNoParameter));
    driver->Drag(160, 50, 160, 30);
    EXPECT_NEAR(vertical->GetValue(), 0.05, 1e-9);
}

TEST_F(Controls, ButtonRunsItsActionAndReturnsToZeroAfterTheClickAnimation) {
    int actions = 0;
    auto* button = g->AttachControl(std::make_unique<Button>(IRECT(0, 0, 50, 50), [&](IControl* c) {
        ++actions;
        EXPECT_EQ(c->GetValue(), 1.0);
    }));
    driver->Click(10, 10);
    EXPECT_EQ(actions, 1);
    driver->RunFrames(5); // 83 ms
    EXPECT_EQ(button->GetValue(), 1.0);
    driver->RunFrames(2);
    EXPECT_EQ(button->GetValue(), 0.0);
    button->SetDisabled(true);
    driver->AdvanceMs(1000);
    driver->Click(10, 10);
    EXPECT_EQ(actions, 1);
}

TEST_F(Controls, SwitchesStepThroughTheirStates) {
    auto* toggle = g->AttachControl(std::make_unique<Switch>(IRECT(0, 0, 50, 50)));
    auto* scale = g->AttachControl(std::make_unique<Switch>(IRECT(50, 0, 100, 50), 1, nullptr, 3));
    std::vector<int> states;
    for (int i = 0; i < 4; ++i) {
        driver->AdvanceMs(1000); // no double-clicks
        driver->Click(10, 10);
        driver->AdvanceMs(1000);
        driver->Click(60, 10);
        states.push_back(toggle->GetSelectedIdx() * 10 + scale->GetSelectedIdx());
    }
    EXPECT_EQ(states, (std::vector<int>{11, 2, 10, 1}));
    EXPECT_EQ(
        delegate.Take(),
        "begin1 send1=0.500 end1 begin1 send1=1.000 end1 begin1 send1=0.000 end1 begin1 send1=0.500 end1 ");
}

TEST_F(Controls, CaptionOffersTheParametersTextsInAMenu) {
    g->AttachPopupMenuControl(IText(15.f));
    auto* caption = g->AttachControl(std::make_unique<ICaptionControl>(IRECT(0, 0, 80, 20), 1));
    EXPECT_EQ(caption->DisplayText(), "Chromatic");
    driver->Click(10, 10);
    ASSERT_TRUE(g->IsPopupMenuOpen());
    const IRECT second = g->GetPopupMenuControl()->GetItemRECT(1);
    EXPECT_EQ(g->GetPopupMenuControl()->GetHighlightedItem(), 0); // the current text is checked
    driver->Click(second.MW(), second.MH());
    EXPECT_EQ(caption->DisplayText(), "Major");
    EXPECT_EQ(delegate.GetParam(1)->Int(), 1);
    EXPECT_EQ(delegate.Take(), "begin1 send1=0.500 end1 ");
    driver->AdvanceMs(1000);
    driver->Click(10, 10);
    EXPECT_EQ(g->GetPopupMenuControl()->GetHighlightedItem(), 1);
    driver->KeyDown(IKeyPress("", kVK_ESCAPE)); // dismissed: nothing changes
    EXPECT_EQ(delegate.Take(), "");
    EXPECT_EQ(delegate.GetParam(1)->Int(), 1);
}

TEST_F(Controls, TabSwitchSelectsAndHoversTabs) {
    int tool = -1;
    auto* tabs = g->AttachControl(std::make_unique<IVTabSwitchControl>(
        IRECT(0, 0, 120, 20), [&](IControl* c) { tool = static_cast<int>(c->GetValue() * 5.0 + 0.5); },
        std::vector<std::string>{"Main", "Pitch", "Formant", "Amp", "Time", "Mod"}));
    driver->MouseMove(45, 10);
    EXPECT_EQ(tabs->GetMouseOverButton(), 2);
    driver->Click(45, 10);
    EXPECT_EQ(tool, 2);
    EXPECT_DOUBLE_EQ(tabs->GetValue(), 0.4);
    driver->MouseMove(150, 50);
    EXPECT_EQ(tabs->GetMouseOverButton(), -1);
}

TEST_F(Controls, CornerResizerRescalesWithinTheConstraintsWithoutRelayout) {
    g->SetScaleConstraints(0.7f, 1.5f);
    g->AttachCornerResizer(EUIResizerMode::Scale, false, COLOR_TRANSPARENT, COLOR_BLACK, COLOR_BLACK, 20.f);
    auto* panel = g->AttachControl(std::make_unique<IPanelControl>(IRECT(10, 10, 50, 50), COLOR_WHITE));
    driver->Drag(195, 95, 215, 105, 1); // the window grows by 20 x 10 pixels: min(220/200, 110/100)
    EXPECT_FLOAT_EQ(g->GetDrawScale(), 1.1f);
    EXPECT_EQ(delegate.GetEditorWidth(), 220);
    EXPECT_EQ(panel->GetRECT(), IRECT(10, 10, 50, 50));
    driver->AdvanceMs(1000);
    driver->Drag(195, 95, 1000, 1000, 1);
    EXPECT_FLOAT_EQ(g->GetDrawScale(), 1.5f);
    EXPECT_EQ(driver->Render().w, 300);
    // The window is the design size times the scale, rounded: the editor's 1280 x 816 at a few scales.
    const struct {
        float scale;
        int w, h;
    } windows[] = {{0.7f, 896, 571}, {0.77f, 986, 628}, {1.1f, 1408, 898}};
    for (const auto& w : windows) {
        SCOPED_TRACE(w.scale);
        g->Resize(1280, 816, w.scale, false);
        EXPECT_EQ(g->WindowWidth(), w.w);
        EXPECT_EQ(g->WindowHeight(), w.h);
    }
}

} // namespace
} // namespace iplug::igraphics
