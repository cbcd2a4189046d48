#include "framework/graphics/testing/test_scene.h"

#include "framework/graphics/icontrol.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace iplug::igraphics {
namespace {

const IColor kInk{255, 232, 234, 237};
const IColor kDim{255, 154, 160, 166};
const IColor kBtn{255, 38, 41, 44};
const IColor kBtnEdge{255, 11, 12, 13};
const IColor kSurface{255, 29, 31, 33};
const IColor kAccent{255, 255, 122, 51};
const IColor kAccentHi{255, 255, 161, 94};
const IColor kHi{28, 255, 255, 255};
const IColor kCanvasBg{255, 10, 11, 12};
const IColor kProbeA{255, 200, 30, 60};
const IColor kProbeB{255, 20, 180, 90};
const IColor kLine{255, 240, 240, 240};

// A fixed-seed generator so that every run draws the same scene.
class Lcg {
public:
    float Next() {
        mState = mState * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<float>((mState >> 40) & 0xFFFFFF) / static_cast<float>(0x1000000);
    }

private:
    std::uint64_t mState = 0x2545F4914F6CDD1DULL;
};

void ButtonFace(IGraphics& g, const IRECT& r, float radius) {
    const IBlend shadow{EBlend::Default, 0.175f};
    g.DrawFastDropShadow(r, r.GetPadded(7.f), 1.f, radius, 2.f, &shadow);
    g.FillRoundRect(kBtn, r, radius);
    g.PathClear();
    g.PathRoundRect(r, radius);
    g.PathFill(IPattern::CreateLinearGradient(0, r.T, 0, r.T + 1.5f, {{kHi, 0.f}, {kHi.WithAlpha(0), 1.f}}));
    g.PathRoundRect(r, radius);
    g.PathFill(IPattern::CreateLinearGradient(0, r.B - 3.f, 0, r.B,
                                              {{IColor(0, 0, 0, 0), 0.f}, {IColor(100, 0, 0, 0), 1.f}}));
    g.DrawRoundRect(kBtnEdge, r, radius);
}

class HeaderControl : public IControl {
public:
    HeaderControl(const IRECT& r, std::vector<ISVG> icons) : IControl(r), mIcons(std::move(icons)) {}
    void Draw(IGraphics& g) override {
        const IRECT r = GetRECT();
        const IBlend wide{EBlend::Default, 0.105f};
        g.DrawFastDropShadow(r, r.GetPadded(17.f), 1.5f, 16.f, 6.f, &wide);
        g.PathClear();
        g.PathRoundRect(r, 16.f);
        g.PathFill(IPattern::CreateLinearGradient(0, r.T, 0, r.B, {{kBtn, 0.f}, {kSurface, 1.f}}));
        g.DrawText(IText(21.f, kInk, "Hanken-Bold", EAlign::Near), "Corvalinth",
                   r.GetFromLeft(160).GetHShifted(20));
        const char* labels[] = {"Capture", "Original", "Clear", "Export"};
        float x = r.L + 180.f;
        for (const char* label : labels) {
            const IRECT b(x, r.T + 11.f, x + 96.f, r.T + 43.f);
            ButtonFace(g, b, 9.f);
            g.DrawText(IText(18.f, IColor(120, 0, 0, 0), "Hanken-SemiBold"), label, b.GetVShifted(0.7f));
            g.DrawText(IText(18.f, kInk, "Hanken-SemiBold"), label, b);
            x += 100.f;
        }
        // The readout: an LCD with ghost digits behind the lit ones.
        const IRECT lcd(x + 14.f, r.T + 11.f, x + 160.f, r.T + 43.f);
        g.PathClear();
        g.PathRoundRect(lcd, 9.f);
        g.PathFill(IPattern::CreateLinearGradient(
            0, lcd.T, 0, lcd.B, {{IColor(255, 10, 11, 12), 0.f}, {IColor(255, 6, 7, 8), 1.f}}));
        g.DrawText(IText(20.f, IColor(30, 255, 138, 61), "DSEG7"), "88:88.88", lcd);
        g.DrawText(IText(20.f, IColor(255, 255, 138, 61), "DSEG7"), "01:23.45", lcd);
        float ix = lcd.R + 20.f;
        for (const ISVG& icon : mIcons) {
            const IRECT face(ix, r.T + 9.f, ix + 34.f, r.T + 43.f);
            ButtonFace(g, face, 17.f);
            g.DrawSVG(icon, face.GetCentredInside(16.f), nullptr, &kDim);
            ix += 38.f;
        }
    }

private:
    std::vector<ISVG> mIcons;
};

class KnobsControl : public IControl {
public:
    explicit KnobsControl(const IRECT& r) : IControl(r) {}
    void Draw(IGraphics& g) override {
        const IRECT r = GetRECT();
        g.PathClear();
        g.PathRoundRect(r, 16.f);
        g.PathFill(IPattern::CreateLinearGradient(0, r.T, 0, r.B, {{kBtn, 0.f}, {kSurface, 1.f}}));
        const char* names[] = {"Pitch", "Drift", "Formant", "Gain", "Amount", "Flatten"};
        for (int i = 0; i < 6; ++i) {
            const float cx = r.L + 60.f + 200.f * float(i), cy = r.MH(), d = 58.f, rad = 0.382f * d;
            const float f = 0.15f + 0.14f * float(i);
            for (int t = 0; t <= 10; ++t) {
                const float a = (-135.f + 27.f * float(t) - 90.f) * 3.14159265f / 180.f;
                g.DrawLine(IColor(255, 135, 140, 147), cx + 0.425f * d * std::cos(a),
                           cy + 0.425f * d * std::sin(a), cx + 0.48f * d * std::cos(a),
                           cy + 0.48f * d * std::sin(a));
            }
            g.DrawArc(IColor(120, 0, 0, 0), cx, cy, 0.385f * d, -135.f, 135.f, nullptr, 3.f);
            g.DrawArc(IColor(140, 255, 122, 51), cx, cy, 0.385f * d, -135.f, -135.f + 270.f * f, nullptr,
                      5.f);
            g.DrawArc(kAccent, cx, cy, 0.385f * d, -135.f, -135.f + 270.f * f, nullptr, 2.f);
            const IBlend soft{EBlend::Default, 0.175f};
            g.DrawFastDropShadow(IRECT(cx - rad, cy - rad, cx + rad, cy + rad),
                                 IRECT(cx - rad, cy - rad, cx + rad, cy + rad).GetPadded(20.f), 5.f, rad,
                                 11.f, &soft);
            g.PathClear();
            g.PathCircle(cx, cy, rad);
            g.PathFill(IPattern::CreateLinearGradient(
                0, cy - rad, 0, cy + rad, {{IColor(255, 122, 125, 130), 0.f}, {IColor(255, 8, 9, 10), 1.f}}));
            g.PathCircle(cx, cy, 0.354f * d);
            g.PathFill(IPattern::CreateRadialGradient(cx, cy - 0.1f * d, 0.4f * d,
                                                      {{IColor(255, 71, 77, 83), 0.f},
                                                       {IColor(255, 48, 52, 56), 0.5f},
                                                       {IColor(255, 35, 37, 40), 0.8f},
                                                       {IColor(255, 25, 27, 29), 1.f}}));
            const float a = (-135.f + 270.f * f - 90.f) * 3.14159265f / 180.f;
            g.DrawLine(IColor(255, 238, 240, 243), cx + 0.216f * rad * std::cos(a),
                       cy + 0.216f * rad * std::sin(a), cx + 0.765f * rad * std::cos(a),
                       cy + 0.765f * rad * std::sin(a), nullptr, 0.035f * d);
            g.DrawText(IText(17.f, kInk, "Hanken-SemiBold", EAlign::Near), names[i],
                       IRECT(cx + 40.f, cy - 19.f, cx + 160.f, cy - 1.f));
            g.DrawText(IText(15.f, kAccentHi, "JBMono", EAlign::Near), "+1.5 st",
                       IRECT(cx + 40.f, cy + 2.f, cx + 160.f, cy + 20.f));
        }
    }
};

class CanvasControl : public IControl {
public:
    CanvasControl(const IRECT& r, IBitmap grain) : IControl(r), mGrain(grain) {}
    void Draw(IGraphics& g) override {
        const IRECT r = GetRECT();
        g.FillRect(kCanvasBg, r);
        for (float y = r.T + 7.f; y < r.B; y += 14.f)
            g.DrawLine(IColor(14, 255, 255, 255), r.L, y, r.R, y);
        for (float x = r.L + 40.f; x < r.R; x += 80.f)
            g.DrawLine(IColor(22, 255, 255, 255), x, r.T, x, r.B);
        // Waveform band: one closed path along the upper edges and back along the lower ones.
        Lcg rng;
        const float yc = r.B - 50.f;
        g.PathClear();
        const int n = static_cast<int>(r.W());
        std::vector<float> lower(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            const float env = 0.5f + 0.5f * std::sin(float(i) * 0.013f);
            const float amp = 40.f * env * (0.3f + 0.7f * rng.Next());
            lower[static_cast<std::size_t>(i)] = yc + amp;
            if (i == 0)
                g.PathMoveTo(r.L, yc - amp);
            else
                g.PathLineTo(r.L + float(i), yc - amp);
        }
        for (int i = n - 1; i >= 0; --i)
            g.PathLineTo(r.L + float(i), lower[static_cast<std::size_t>(i)]);
        g.PathClose();
        g.PathFill(IColor(18, 255, 255, 255));
        // Notes with shadows, gradient fills, pitch curves and connectors.
        float prevX = 0.f, prevY = 0.f;
        for (int k = 0; k < 60; ++k) {
            const float x0 = r.L + 20.f + 20.f * float(k), w = 14.f + 30.f * rng.Next();
            const float yc2 = r.T + 60.f + 300.f * rng.Next();
            const IRECT blob(x0, yc2 - 7.f, x0 + w, yc2 + 7.f);
            if (k > 0)
                g.DrawCubic(IColor(204, 169, 87, 31), prevX, prevY, 0.5f * (prevX + x0), prevY,
                            0.5f * (prevX + x0), yc2, x0, yc2);
            g.FillRoundRect(IColor(70, 0, 0, 0), IRECT(blob.L, blob.T + 1.f, blob.R, blob.B + 2.f), 4.f);
            g.PathClear();
            g.PathRoundRect(blob, 4.f);
            g.PathFill(IPattern::CreateLinearGradient(
                0, blob.T, 0, blob.B, {{IColor(255, 245, 176, 106), 0.f}, {IColor(255, 223, 130, 55), 1.f}}));
            float xs[24], ys[24];
            for (int i = 0; i < 24; ++i) {
                xs[i] = blob.L + w * float(i) / 23.f;
                ys[i] = yc2 + 4.f * std::sin(float(i) * 0.7f + float(k));
            }
            g.PathTransformSave();
            g.PathClipRegion(blob);
            g.DrawData(IColor(140, 70, 35, 8), xs, ys, 24, nullptr, 1.1f);
            g.PathTransformRestore();
            g.DrawRoundRect(IColor(255, 169, 87, 31), blob, 4.f);
            prevX = blob.R;
            prevY = yc2;
        }
        g.DrawDottedRect(IColor(20, 255, 255, 255), r.GetPadded(-20.f), nullptr, 1.5f, 6.f);
        g.DrawLine(IColor(55, 255, 122, 51), r.L + 600.f, r.T, r.L + 600.f, r.B, nullptr, 3.f);
        g.DrawLine(kAccent, r.L + 600.f, r.T, r.L + 600.f, r.B, nullptr, 1.4f);
        const IBlend grain{EBlend::Default, 0.045f};
        g.DrawTiledBitmap(mGrain, r, &grain);
    }

private:
    IBitmap mGrain;
};

// Flat colours at known places: the pixel probes and the crisp-line check read these.
class ProbeControl : public IControl {
public:
    explicit ProbeControl(const IRECT& r) : IControl(r) {}
    void Draw(IGraphics& g) override {
        g.FillRect(IColor(255, 0, 0, 0), GetRECT());
        g.FillRect(kProbeA, IRECT(20.f, 770.f, 60.f, 806.f));
        g.FillRoundRect(kProbeB, IRECT(80.f, 770.f, 140.f, 806.f), 8.f);
        g.DrawLine(kLine, 160.f, 788.f, 400.f, 788.f);
        g.DrawText(IText(18.f, kInk, "Hanken-Regular", EAlign::Near), "Regular",
                   IRECT(420.f, 770.f, 520.f, 806.f));
        g.DrawText(IText(18.f, kInk, "Hanken-Medium", EAlign::Near), "Medium",
                   IRECT(520.f, 770.f, 620.f, 806.f));
        g.DrawText(IText(14.f, kDim, "JBMono", EAlign::Near), "Cmd + scroll",
                   IRECT(620.f, 770.f, 760.f, 806.f));
    }
};

} // namespace

const std::vector<SceneFont>& EditorFonts() {
    static const std::vector<SceneFont> fonts = {{"Hanken-Regular", "HankenGrotesk-Regular.ttf"},
                                                 {"Hanken-Medium", "HankenGrotesk-Medium.ttf"},
                                                 {"Hanken-SemiBold", "HankenGrotesk-SemiBold.ttf"},
                                                 {"Hanken-Bold", "HankenGrotesk-Bold.ttf"},
                                                 {"DSEG7", "DSEG7Classic-Bold.ttf"},
                                                 {"JBMono", "JetBrainsMono-Regular.ttf"}};
    return fonts;
}

const std::vector<std::string>& EditorIcons() {
    static const std::vector<std::string> icons = {"split",    "merge",    "unison",    "undo", "redo",
                                                   "help",     "settings", "skip-back", "play", "stop",
                                                   "zoom-out", "zoom-in",  "fit"};
    return icons;
}

std::filesystem::path ResourcesDir() {
    if (const char* env = std::getenv("CV_RESOURCES_DIR"); env && *env)
        return env;
    return CV_RESOURCES_DIR;
}

void BuildTestScene(IGraphics& g, const std::filesystem::path& resources) {
    g.AddResourcePath(resources / "fonts");
    g.AddResourcePath(resources / "icons");
    for (const SceneFont& f : EditorFonts()) {
        if (!g.LoadFont(f.id, f.file))
            throw std::runtime_error(std::string("Missing font ") + f.file + " (run ./corvalinth deps).");
    }
    std::vector<ISVG> icons;
    for (const std::string& name : EditorIcons()) {
        ISVG svg = g.LoadSVG(name + ".svg");
        if (!svg.IsValid())
            throw std::runtime_error("Missing icon " + name + ".svg (run ./corvalinth deps).");
        icons.push_back(svg);
    }
    // A 64 x 64 grain tile.
    std::vector<unsigned char> grain(64 * 64 * 4);
    Lcg rng;
    for (std::size_t i = 0; i < grain.size(); i += 4) {
        const auto v = static_cast<unsigned char>(255.f * rng.Next());
        grain[i] = grain[i + 1] = grain[i + 2] = v;
        grain[i + 3] = 255;
    }
    const IBitmap tile = g.LoadBitmapFromPixels("scene-grain", 64, 64, grain.data());

    g.AttachPanelBackground(IPattern::CreateRadialGradient(
        640.f, -80.f, 960.f,
        {{IColor(255, 33, 36, 39), 0.f}, {IColor(255, 23, 24, 25), 0.42f}, {IColor(255, 13, 14, 15), 1.f}}));
    g.AttachControl(std::make_unique<HeaderControl>(IRECT(14.f, 4.f, 1266.f, 58.f), icons));
    g.AttachControl(std::make_unique<CanvasControl>(IRECT(14.f, 114.f, 1266.f, 600.f), tile));
    g.AttachControl(std::make_unique<KnobsControl>(IRECT(14.f, 620.f, 1266.f, 750.f)));
    g.AttachControl(std::make_unique<ProbeControl>(IRECT(0.f, 760.f, 1280.f, 816.f)));
}

std::vector<SceneProbe> TestSceneProbes() {
    return {{"solid rectangle", 40.f, 788.f, kProbeA},
            {"rounded rectangle's middle", 110.f, 788.f, kProbeB},
            {"rounded rectangle's straight edge", 110.f, 770.f, kProbeB},
            {"one-unit line", 280.f, 788.f, kLine},
            {"above the line", 280.f, 787.f, COLOR_BLACK},
            {"below the line", 280.f, 789.f, COLOR_BLACK}};
}

} // namespace iplug::igraphics
