// Drawing checked in pixels: exact colours where nothing is antialiased, crisp thin lines at every scale,
// gradient stops, dashes, icon holes, bitmaps, clipping, text measured as NanoVG draws it, and the test
// scene against its golden image.

#include "framework/graphics/icontrol.h"
#include "framework/graphics/testing/test_driver.h"
#include "framework/graphics/testing/test_scene.h"
#include "nanovg.h"
#include "tests/support/golden_image.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>

namespace iplug::igraphics {
namespace {

class DrawFn : public IControl {
public:
    explicit DrawFn(std::function<void(IGraphics&)> f) : IControl(IRECT(0, 0, 400, 300)), mF(std::move(f)) {}
    void Draw(IGraphics& g) override { mF(g); }

private:
    std::function<void(IGraphics&)> mF;
};

struct Canvas {
    explicit Canvas(std::function<void(IGraphics&)> f, float scale = 1.f)
        : g(MakeOffscreenGraphics(nullptr, 400, 300, 60, scale)), d(*g) {
        g->AttachControl(std::make_unique<DrawFn>(std::move(f)));
        d.Render();
    }
    std::unique_ptr<IGraphics> g;
    TestDriver d;
};

using cvtest::MaxChannelDiff;

const IColor kRed{255, 220, 40, 30};

TEST(Rendering, ThinLinesAndOutlinesStayCrispAtEveryScale) {
    // Every pixel of a column through a 1-unit line is either the line's colour or the background's:
    // nothing half-covered, at any scale from 0.7 to 1.5.
    for (int percent = 70; percent <= 150; percent += 5) {
        const float scale = static_cast<float>(percent) / 100.f;
        SCOPED_TRACE(scale);
        Canvas c(
            [](IGraphics& g) {
                g.DrawLine(kRed, 10.f, 20.3f, 200.f, 20.3f);
                g.DrawLine(kRed, 30.6f, 40.f, 30.6f, 200.f);
                g.DrawRect(kRed, IRECT(100.2f, 60.7f, 180.5f, 120.1f));
                g.FillRect(kRed, IRECT(250.f, 60.f, 251.f, 200.f)); // a one-unit band
            },
            scale);
        const RGBAImage frame = c.d.Render();
        auto at = [&](float designX, int y) { return frame.At(static_cast<int>(designX * scale), y); };
        int lineRows = 0, bandColumns = 0, edgeRows = 0;
        for (int y = 0; y < frame.h; ++y) {
            ASSERT_TRUE(at(50.f, y) == kRed || at(50.f, y) == COLOR_BLACK) << "row " << y;
            lineRows += at(50.f, y) == kRed;
            edgeRows += at(140.f, y) == kRed;
        }
        for (int x = 0; x < frame.w; ++x) {
            const IColor p = frame.At(x, static_cast<int>(100.f * scale));
            ASSERT_TRUE(p == kRed || p == COLOR_BLACK) << "column " << x;
            bandColumns += frame.At(x, static_cast<int>(150.f * scale)) == kRed;
        }
        const int expectedWidth = std::max(1, static_cast<int>(std::lround(scale)));
        EXPECT_EQ(lineRows, expectedWidth);
        EXPECT_EQ(edgeRows, 3 * expectedWidth);    // the outline's top and bottom edges and the line
        EXPECT_EQ(bandColumns, 2 * expectedWidth); // the band and the vertical line
    }
}

TEST(Rendering, PatternsDashesBitmapsAndClipsInPixels) {
    const unsigned char checker[] = {255, 255, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    Canvas c([&](IGraphics& g) {
        // Three-stop vertical gradient over 0..100: black, red at the middle, white.
        g.PathRect(IRECT(0, 0, 40, 100));
        g.PathFill(IPattern::CreateLinearGradient(
            0, 0, 0, 100, {{COLOR_BLACK, 0.f}, {IColor(255, 255, 0, 0), 0.5f}, {COLOR_WHITE, 1.f}}));
        // The same colours with the middle stop at a quarter: a gradient of its own.
        g.PathRect(IRECT(40, 0, 50, 100));
        g.PathFill(IPattern::CreateLinearGradient(
            0, 0, 0, 100, {{COLOR_BLACK, 0.f}, {IColor(255, 255, 0, 0), 0.25f}, {COLOR_WHITE, 1.f}}));
        // Four-stop radial gradient of radius 50 around (100, 50).
        g.PathCircle(100, 50, 50);
        g.PathFill(IPattern::CreateRadialGradient(100, 50, 50,
                                                  {{IColor(255, 232, 233, 236), 0.f},
                                                   {IColor(255, 196, 198, 202), 0.45f},
                                                   {IColor(255, 150, 152, 157), 0.82f},
                                                   {IColor(255, 120, 122, 127), 1.f}}));
        // Dashes of 6 on, 6 off along y = 120.
        IStrokeOptions dashed;
        dashed.mDash.mArray = {6.f, 6.f};
        g.PathMoveTo(160, 120);
        g.PathLineTo(260, 120);
        g.PathStroke(COLOR_WHITE, 2.f, dashed);
        // A 2 x 2 checker tiled one pixel per unit, and the same at half opacity.
        const IBitmap tile = g.LoadBitmapFromPixels("checker", 2, 2, checker);
        g.DrawTiledBitmap(tile, IRECT(160, 140, 170, 150));
        const IBlend half{EBlend::Default, 0.5f};
        g.FillRect(COLOR_WHITE, IRECT(180, 140, 190, 150), &half);
        // Clipped and at half opacity: only the left half of this square may show.
        g.PathTransformSave();
        g.PathClipRegion(IRECT(200, 140, 210, 160));
        g.SetGlobalAlpha(0.5f);
        g.FillRect(COLOR_WHITE, IRECT(200, 140, 220, 160));
        g.PathTransformRestore();
        g.FillRect(kRed, IRECT(300, 140, 320, 160)); // the clip and the opacity ended with the restore
        // A soft shadow is darkest under its rectangle and leaves the outside of its outer one alone.
        g.FillRect(COLOR_WHITE, IRECT(0, 200, 400, 300));
        g.DrawFastDropShadow(IRECT(50, 220, 100, 260), IRECT(40, 210, 110, 270), 2.f, 4.f, 6.f);
    });
    const std::vector<cvtest::PixelProbe> probes = {
        {"linear, first stop", 20, 0.5f, COLOR_BLACK, 3},
        {"linear, middle stop", 20, 50.5f, IColor(255, 255, 0, 0), 4},
        {"linear, a quarter", 20, 25.5f, IColor(255, 128, 0, 0), 4},
        {"linear, last stop", 20, 99.5f, COLOR_WHITE, 4},
        {"linear, middle stop moved", 45, 25.5f, IColor(255, 255, 0, 0), 4},
        {"radial, centre", 100, 50, IColor(255, 232, 233, 236), 3},
        {"radial, second stop", 100 + 22.5f, 50, IColor(255, 196, 198, 202), 3},
        {"radial, third stop", 100, 50 + 41.f, IColor(255, 150, 152, 157), 3},
        {"dash", 163, 120, COLOR_WHITE, 0},
        {"gap", 169, 120, COLOR_BLACK, 0},
        {"second dash", 175, 120, COLOR_WHITE, 0},
        {"tile, white texel", 160.5f, 140.5f, COLOR_WHITE, 0},
        {"tile, blue texel", 161.5f, 140.5f, IColor(255, 0, 0, 255), 0},
        {"tile, repeated", 163.5f, 143.5f, COLOR_WHITE, 0},
        {"half opacity", 185, 145, IColor(255, 128, 128, 128), 1},
        {"inside the clip", 205, 150, IColor(255, 128, 128, 128), 1},
        {"outside the clip", 215, 150, COLOR_BLACK, 0},
        {"after the clip", 315, 150, kRed, 0},
        {"outside the shadow", 20, 240, COLOR_WHITE, 0},
    };
    cvtest::ExpectPixels(c.d, probes);
    EXPECT_LT(c.d.PixelAt(75, 240).R, c.d.PixelAt(105, 240).R);
}

// An empty clip, however it came to be empty, lets nothing through until the restore: not the whole
// canvas (as if there were no clip), nor the pixel at a clip of no size.
TEST(Rendering, AnEmptyClipDrawsNothing) {
    const struct {
        const char* what;
        IRECT clip;
    } clips[] = {
        {"no rectangle", IRECT()},
        {"no width", IRECT(100, 100, 100, 200)},
        {"no height", IRECT(100, 100, 300, 100)},
        {"inverted", IRECT(300, 200, 100, 100)},
        {"a point at a pixel's centre", IRECT(100.5f, 100.5f, 100.5f, 100.5f)},
    };
    for (float scale : {1.f, 1.5f}) {
        IRECT clip;
        Canvas canvas(
            [&](IGraphics& g) {
                g.PathTransformSave();
                g.PathClipRegion(clip);
                g.FillRect(kRed, IRECT(0, 0, 400, 300));
                g.DrawLine(COLOR_WHITE, 0, 150, 400, 150);
                g.PathTransformRestore();
                g.FillRect(COLOR_WHITE, IRECT(390, 290, 400, 300)); // the restore ends the clip
            },
            scale);
        for (const auto& c : clips) {
            SCOPED_TRACE(testing::Message() << c.what << " at " << scale);
            clip = c.clip;
            const RGBAImage frame = canvas.d.Render();
            int drawn = 0;
            for (int y = 0; y < frame.h; ++y) {
                for (int x = 0; x < frame.w; ++x)
                    drawn += frame.At(x, y) != COLOR_BLACK;
            }
            const int corner = static_cast<int>(std::lround(10.f * scale));
            EXPECT_EQ(drawn, corner * corner);
        }
    }
}

TEST(Rendering, IconHolesComeOutEmpty) {
    auto g = MakeOffscreenGraphics(nullptr, 520, 140, 60, 1.f);
    g->AddResourcePath(ResourcesDir() / "icons");
    std::vector<ISVG> icons;
    for (const char* name : {"settings", "help", "zoom-out", "zoom-in"})
        icons.push_back(g->LoadSVG(std::string(name) + ".svg"));
    g->AttachControl(std::make_unique<DrawFn>([&](IGraphics& gr) {
        for (std::size_t i = 0; i < icons.size(); ++i)
            gr.DrawSVG(icons[i], IRECT::MakeXYWH(float(i) * 128.f, 0, 128, 128), nullptr, &COLOR_WHITE);
    }));
    TestDriver d(*g);
    d.Render();
    // Icon units map at half scale: (u, v) in the 256-unit viewBox lands at (u/2, v/2).
    struct Probe {
        const char* what;
        int icon;
        float u, v;
        IColor color;
    } probes[] = {
        {"gear: centre hole", 0, 128, 128, COLOR_BLACK},
        {"gear: ring between hub and body", 0, 128, 64, COLOR_BLACK},
        {"gear: hub", 0, 128, 88, COLOR_WHITE},
        {"question: inside the ring", 1, 72, 128, COLOR_BLACK},
        {"question: the ring", 1, 128, 30, COLOR_WHITE},
        {"question: the dot", 1, 128, 180, COLOR_WHITE},
        {"zoom-out: lens above the bar", 2, 112, 72, COLOR_BLACK},
        {"zoom-out: the bar", 2, 112, 112, COLOR_WHITE},
        {"zoom-in: lens beside the cross", 3, 82, 82, COLOR_BLACK},
    };
    for (const Probe& p : probes) {
        SCOPED_TRACE(p.what);
        EXPECT_EQ(d.PixelAt(float(p.icon) * 128.f + p.u / 2.f, p.v / 2.f), p.color);
    }
}

TEST(Rendering, TextIsMeasuredAsNanoVGDrawsIt) {
    for (float scale : {1.f, 1.5f}) {
        auto g = MakeOffscreenGraphics(nullptr, 400, 100, 60, scale);
        g->AddResourcePath(ResourcesDir() / "fonts");
        for (const SceneFont& f : EditorFonts())
            ASSERT_TRUE(g->LoadFont(f.id, f.file)) << f.file;
        const char* sample = "Formant +0.0 st";
        float inkRight = 0.f;
        const IText text(17.f, COLOR_WHITE, "Hanken-SemiBold", EAlign::Near);
        g->AttachControl(std::make_unique<DrawFn>(
            [&](IGraphics& gr) { gr.DrawText(text, sample, IRECT(10, 0, 400, 40)); }));
        TestDriver d(*g);
        d.Render();
        for (float x = 10.f; x < 400.f; x += 0.25f)
            for (float y = 5.f; y < 35.f; y += 1.f)
                if (d.PixelAt(x, y).R > 0)
                    inkRight = x;
        for (const SceneFont& f : EditorFonts()) {
            SCOPED_TRACE(testing::Message() << f.id << " at " << scale);
            // NanoVG rounds advances to device pixels: measure with its own call at the drawing scale.
            NVGcontext* vg = g->GetNVGContext();
            nvgSave(vg);
            nvgResetTransform(vg);
            nvgScale(vg, scale, scale);
            nvgFontFace(vg, f.id);
            nvgFontSize(vg, 17.f);
            nvgTextAlign(vg, NVG_ALIGN_LEFT | NVG_ALIGN_MIDDLE);
            const float expected = nvgTextBounds(vg, 0, 0, sample, nullptr, nullptr);
            nvgRestore(vg);
            EXPECT_FLOAT_EQ(g->MeasureTextWidth(IText(17.f, COLOR_WHITE, f.id), sample), expected);
        }
        const float width = g->MeasureTextWidth(text, sample);
        SCOPED_TRACE(scale);
        EXPECT_GT(inkRight, 10.f + width - 3.f); // the ink ends where the measurement says
        EXPECT_LT(inkRight, 10.f + width + 1.f);
        IRECT bounds(10, 0, 400, 40);
        g->MeasureText(text, sample, bounds);
        // The occupied rectangle: glyph extents (bearings included) and the line's height around the middle.
        EXPECT_NEAR(bounds.L, 10.f, 2.f);
        EXPECT_NEAR(bounds.W(), width, 4.f);
        EXPECT_LT(bounds.T, 20.f);
        EXPECT_GT(bounds.B, 20.f);
    }
}

TEST(Rendering, ALineBreakStartsASecondLineOrIsASpaceWhereTheBoxHoldsOne) {
    const IText text(16.f, COLOR_WHITE, "Hanken-Regular");
    auto draw = [&](const char* str, const IRECT& box) {
        auto g = MakeOffscreenGraphics(nullptr, 400, 300, 60, 1.f);
        g->AddResourcePath(ResourcesDir() / "fonts");
        EXPECT_TRUE(g->LoadFont("Hanken-Regular", "HankenGrotesk-Regular.ttf"));
        g->AttachControl(std::make_unique<DrawFn>([&](IGraphics& gr) { gr.DrawText(text, str, box); }));
        TestDriver d(*g);
        return d.Render();
    };
    // The rows with ink, as runs: [first, last] per run.
    auto inkRuns = [](const RGBAImage& frame) {
        std::vector<std::pair<int, int>> runs;
        for (int y = 0; y < frame.h; ++y) {
            bool ink = false;
            for (int x = 0; x < frame.w && !ink; ++x)
                ink = frame.At(x, y).R > 60;
            if (ink && !runs.empty() && runs.back().second == y - 1)
                runs.back().second = y;
            else if (ink)
                runs.emplace_back(y, y);
        }
        return runs;
    };
    const IRECT oneLine(10, 100, 390, 116);
    const RGBAImage joined = draw("remove all edits\nand analyze", oneLine);
    const RGBAImage spaced = draw("remove all edits and analyze", oneLine);
    std::size_t off = 0;
    for (int y = 0; y < joined.h; ++y)
        for (int x = 0; x < joined.w; ++x)
            off += MaxChannelDiff(joined.At(x, y), spaced.At(x, y)) > 0;
    EXPECT_EQ(off, 0u) << "a break in a one-line box draws as a space";

    const auto single = inkRuns(draw("remove all edits", IRECT(10, 100, 390, 200)));
    const auto lines = inkRuns(draw("remove all edits\nand analyze", IRECT(10, 100, 390, 200)));
    ASSERT_EQ(single.size(), 1u);
    ASSERT_EQ(lines.size(), 2u);
    // Centred as a block: the first line lies above the middle, the second below it.
    EXPECT_LT(lines[0].second, 150);
    EXPECT_GT(lines[1].first, 150);
}

// Measured text occupies what drawing it shows: stacked lines as wide as the widest and as high as all,
// and a break drawn as a space where the box holds one line measured as that space.
TEST(Rendering, TextWithALineBreakIsMeasuredAsItIsDrawn) {
    auto g = MakeOffscreenGraphics(nullptr, 400, 300, 60, 1.f);
    g->AddResourcePath(ResourcesDir() / "fonts");
    ASSERT_TRUE(g->LoadFont("Hanken-Regular", "HankenGrotesk-Regular.ttf"));
    const IText text(16.f, COLOR_WHITE, "Hanken-Regular", EAlign::Near);
    const char* str = "remove all edits\nand";
    const IRECT box(10, 100, 390, 200);
    g->AttachControl(std::make_unique<DrawFn>([&](IGraphics& gr) { gr.DrawText(text, str, box); }));
    TestDriver d(*g);
    const RGBAImage frame = d.Render();
    int inkL = frame.w, inkR = -1, inkT = frame.h, inkB = -1;
    for (int y = 0; y < frame.h; ++y) {
        for (int x = 0; x < frame.w; ++x) {
            if (frame.At(x, y).R > 60) {
                inkL = std::min(inkL, x);
                inkR = std::max(inkR, x);
                inkT = std::min(inkT, y);
                inkB = std::max(inkB, y);
            }
        }
    }
    ASSERT_GE(inkR, 0);
    const float widest = g->MeasureTextWidth(text, "remove all edits");
    EXPECT_FLOAT_EQ(g->MeasureTextWidth(text, str), widest);
    IRECT measured = box;
    EXPECT_FLOAT_EQ(g->MeasureText(text, str, measured), widest);
    IRECT one = box;
    g->MeasureText(text, "remove all edits", one);
    // The ink lies inside the measured rectangle, which ends within a pixel or two of it across and is
    // two lines high.
    EXPECT_LE(measured.L, float(inkL));
    EXPECT_GE(measured.R, float(inkR + 1));
    EXPECT_NEAR(measured.R, float(inkR + 1), 2.f);
    EXPECT_LE(measured.T, float(inkT));
    EXPECT_GE(measured.B, float(inkB + 1));
    EXPECT_FLOAT_EQ(measured.H(), 2.f * one.H());
    IRECT low(10, 100, 390, 116);
    EXPECT_FLOAT_EQ(g->MeasureText(text, str, low), g->MeasureTextWidth(text, "remove all edits and"));
}

TEST(Rendering, APartialRedrawMatchesAFullOne) {
    // A swatch on top of the scene changes colour: the frame tick redraws around it only, its halo past
    // its rectangle (as a shadow is) included, and what it draws equals a full frame; a control far away
    // is not drawn again.
    class Swatch : public IControl {
    public:
        explicit Swatch(const IRECT& r) : IControl(r) {}
        void Draw(IGraphics& g) override {
            ++draws;
            g.FillRect(color.WithAlpha(90), GetRECT().GetPadded(12.f));
            g.FillRect(color, GetRECT());
        }
        IColor color = COLOR_WHITE;
        int draws = 0;
    };
    auto g = MakeOffscreenGraphics(nullptr, kSceneWidth, kSceneHeight, 60, 1.f);
    BuildTestScene(*g, ResourcesDir());
    Swatch* swatch = g->AttachControl(std::make_unique<Swatch>(IRECT(600, 300, 640, 340)));
    Swatch* far = g->AttachControl(std::make_unique<Swatch>(IRECT(20, 700, 40, 720)));
    TestDriver d(*g);
    EXPECT_TRUE(d.Tick());
    EXPECT_FALSE(d.Tick()); // nothing dirty, nothing drawn
    const struct {
        const char* what;
        std::function<void()> change;
        float redX, redY;
        bool whole; // the frame tick redraws every control
    } steps[] = {
        {"a new colour",
         [&] {
             swatch->color = kRed;
             swatch->SetDirty(false);
         },
         620, 320, false},
        {"a move, which redraws where it was", [&] { swatch->SetRECT(IRECT(700, 300, 740, 340)); }, 720, 320,
         false},
        {"a new screen scale, after which the first frame covers the whole window",
         [&] {
             dynamic_cast<OffscreenBackend&>(g->GetBackend()).SetScreenScale(1.5f);
             swatch->SetDirty(false);
         },
         720, 320, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        const int farDraws = far->draws;
        EXPECT_TRUE(d.Tick());
        EXPECT_EQ(far->draws, farDraws + (step.whole ? 1 : 0));
        const RGBAImage partial = dynamic_cast<OffscreenBackend&>(g->GetBackend()).ReadPixels();
        const RGBAImage full = d.Render();
        ASSERT_EQ(partial.rgba.size(), full.rgba.size());
        std::size_t off = 0;
        for (int y = 0; y < full.h; ++y)
            for (int x = 0; x < full.w; ++x)
                off += MaxChannelDiff(partial.At(x, y), full.At(x, y)) > 1;
        EXPECT_EQ(off, 0u);
        const float s = g->GetScreenScale();
        EXPECT_EQ(partial.At(static_cast<int>(step.redX * s), static_cast<int>(step.redY * s)), kRed);
    }
}

TEST(Rendering, SceneMatchesItsProbesAndTheGoldenImage) {
    for (float scale : {1.f, 0.7f, 1.5f}) {
        SCOPED_TRACE(scale);
        auto g = MakeOffscreenGraphics(nullptr, kSceneWidth, kSceneHeight, 60, scale);
        BuildTestScene(*g, ResourcesDir());
        TestDriver d(*g);
        const RGBAImage frame = d.Render();
        EXPECT_EQ(frame.w, std::lround(kSceneWidth * scale));
        for (const SceneProbe& p : TestSceneProbes()) {
            SCOPED_TRACE(p.what);
            EXPECT_EQ(d.PixelAt(p.x, p.y), p.color);
        }
        if (scale != 1.f)
            continue;
        cvtest::ExpectMatchesGolden(frame, CV_GOLDEN_DIR, "scene");
    }
}

} // namespace
} // namespace iplug::igraphics
