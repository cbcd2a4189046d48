// The kit's controls on the test driver: hover fade and press pulse advanced by IsDirty on the injected
// clock, the dropdown's preferred width, the disabled veil, an icon and the lit screen in pixels.

#include "framework/graphics/testing/test_driver.h"
#include "framework/graphics/testing/test_scene.h"
#include "ui/ivory/controls.h"
#include "ui/ivory/palette.h"

#include <gtest/gtest.h>

namespace ivory {
namespace {

using namespace iplug::igraphics;

// Two parameters: "Volume" 0..100 and "Scale" ("Chromatic", "Major", "Minor").
class Delegate : public iplug::IEditorDelegate {
public:
    Delegate() : IEditorDelegate(2) {
        GetParam(0)->InitDouble("Volume", 100.0, 0.0, 100.0, 0.1, "%");
        GetParam(1)->InitEnum("Scale", 0, {"Chromatic", "Major", "Minor"});
    }
    void SendParameterValueFromUI(int i, double v) override { GetParam(i)->SetNormalized(v); }
    void BeginInformHostOfParamChangeFromUI(int) override {}
    void EndInformHostOfParamChangeFromUI(int) override {}
};

struct Kit : testing::Test {
    Kit() : g(MakeOffscreenGraphics(&delegate, 300, 120, 60, 1.f)), d(*g) {
        g->AddResourcePath(ResourcesDir() / "fonts");
        for (const SceneFont& f : EditorFonts())
            g->LoadFont(f.id, f.file);
    }
    Delegate delegate;
    std::unique_ptr<IGraphics> g;
    TestDriver d;
};

TEST_F(Kit, HoverFadesAndPressPulsesRunOnTheClockWhileAskedIfDirty) {
    auto* button = g->AttachControl(std::make_unique<IvoryButton>(IRECT(10, 10, 110, 42), "Clear", nullptr));
    d.Tick();
    const InteractionMotion& m = button->Motion();
    d.MouseMove(50, 20);
    d.AdvanceMs(47.5);
    EXPECT_TRUE(button->IsDirty());
    EXPECT_NEAR(m.hover, 0.5f, 1e-3f); // smoothstep's middle
    d.MouseMove(200, 100);             // out halfway: back from where it was
    d.AdvanceMs(47.5);
    button->IsDirty();
    EXPECT_NEAR(m.hover, 0.25f, 1e-3f);
    d.AdvanceMs(47.5);
    EXPECT_TRUE(button->IsDirty()); // the frame that ends the fade still draws
    EXPECT_EQ(m.hover, 0.f);
    d.RunFrames(2);
    EXPECT_FALSE(button->IsDirty());

    d.MouseDown(50, 20);
    d.AdvanceMs(42.5);
    button->IsDirty();
    EXPECT_NEAR(m.press, 0.125f, 1e-3f); // (1 - 0.5)^3
    d.MouseUp(50, 20);
    d.MouseDown(50, 20); // a second click restarts the pulse
    EXPECT_EQ(m.press, 1.f);
    d.MouseUp(50, 20);
    d.AdvanceMs(85);
    button->IsDirty();
    EXPECT_EQ(m.press, 0.f);
}

TEST_F(Kit, DropdownPrefersTheWidthOfItsLabelAndValue) {
    auto* plain = g->AttachControl(std::make_unique<IvoryDropdown>(IRECT(), 1, "Scale", false));
    auto* boxed = g->AttachControl(std::make_unique<IvoryDropdown>(IRECT(), 1, "Scale", true));
    auto* none = g->AttachControl(
        std::make_unique<IvoryDropdown>(IRECT(), iplug::igraphics::kNoParameter, "X", false));
    const float label = g->MeasureTextWidth(IText(16.f, kInk, kFontSemiBold), "Scale");
    EXPECT_FLOAT_EQ(plain->PreferredWidth(),
                    12.f + label + 9.f + g->MeasureTextWidth(IText(18.f, kInk, kFontSemiBold), "Chromatic") +
                        12.f);
    EXPECT_FLOAT_EQ(boxed->PreferredWidth(),
                    12.f + label + 9.f + g->MeasureTextWidth(IText(18.f, kInk, kFontBold), "Chromatic") +
                        16.f + 12.f);
    EXPECT_EQ(none->PreferredWidth(), 100.f);
    EXPECT_EQ(IvoryDropdown(IRECT(), 1, "Scale", false).PreferredWidth(), 100.f); // no graphics context
    delegate.GetParam(1)->Set(2.0);
    plain->SetValueFromDelegate(1.0);
    EXPECT_GT(plain->PreferredWidth(), label + 33.f);
}

TEST_F(Kit, DisabledControlsDrawTheVeilAndNoWashes) {
    auto* button = g->AttachControl(std::make_unique<IvoryButton>(IRECT(10, 10, 110, 42), "", nullptr));
    d.MouseMove(20, 20);
    d.RunFrames(12);
    const IColor hovered = (d.Render(), d.PixelAt(15, 26));
    button->SetDisabled(true);
    d.Render();
    // The veil (140, 20, 21, 23) over the face (38, 41, 44), and no hover wash under it.
    const IColor veiled = d.PixelAt(15, 26);
    EXPECT_NEAR(veiled.R, 28, 1);
    EXPECT_NEAR(veiled.G, 30, 1);
    EXPECT_NEAR(veiled.B, 32, 1);
    EXPECT_GT(hovered.R, kBtn.R); // the wash brightened it while enabled
}

// Which icon a value draws is the icon table's (painter_geometry_test.cpp); here that one is drawn at all.
TEST_F(Kit, IconsAndTheLitScreenInPixels) {
    g->AttachControl(
        std::make_unique<IvoryIconButton>(IRECT(60, 0, 120, 60), EPhosphorIcon::Help, nullptr, true, 40.f));
    g->AttachControl(std::make_unique<IvoryScreen>(IRECT(130, 10, 290, 50), "00:00.00"));
    d.Render();
    int inked = 0;
    for (float y = 10.5f; y < 50; ++y)
        for (float x = 70.5f; x < 110; ++x)
            inked += d.PixelAt(x, y).R > 120;
    EXPECT_GT(inked, 100);
    // The lit digits in the LED colour; their ghost (8s) lights segments the zeros leave dark.
    int led = 0, ghost = 0;
    for (float x = 142; x < 278; x += 0.5f)
        for (float y = 15; y < 45; y += 0.5f) {
            const IColor p = d.PixelAt(x, y);
            led += p.R > 200 && p.G > 100;
            ghost += p.R > 30 && p.R < 90 && p.B < 30;
        }
    EXPECT_GT(led, 200);
    EXPECT_GT(ghost, 20);
}

TEST(Screen, TheDecimalPointOfTheTimeStandsApartAtEverySize) {
    // Along the two lowest lit pixel rows of "00:00.00" (below the colon) lie seven marks: the bottoms
    // of the six digits and the decimal point, each with a dark column on either side.
    for (int percent = 70; percent <= 150; percent += 5) {
        const float scale = static_cast<float>(percent) / 100.f;
        SCOPED_TRACE(scale);
        auto g = MakeOffscreenGraphics(nullptr, 120, 60, 60, scale);
        g->AddResourcePath(ResourcesDir() / "fonts");
        for (const SceneFont& f : EditorFonts())
            g->LoadFont(f.id, f.file);
        g->AttachControl(std::make_unique<IvoryScreen>(IRECT(10, 10, 104, 48), "00:00.00"));
        TestDriver d(*g);
        const RGBAImage frame = d.Render();
        auto lit = [&](int x, int y) { return frame.At(x, y).R > kLed.R * 2 / 5; }; // the ghost stays below
        int bottom = -1;
        for (int y = 0; y < frame.h; ++y)
            for (int x = 0; x < frame.w; ++x)
                bottom = lit(x, y) ? y : bottom;
        ASSERT_GT(bottom, 0);
        int marks = 0;
        bool inMark = false;
        for (int x = 0; x < frame.w; ++x) {
            const bool here = lit(x, bottom) || lit(x, bottom - 1);
            marks += here && !inMark;
            inMark = here;
        }
        EXPECT_EQ(marks, 7);
    }
}

} // namespace
} // namespace ivory
