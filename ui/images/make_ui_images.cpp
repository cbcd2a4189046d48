// make_ui_images OUT_DIR: draws the editor's two bitmaps with our own renderer, offscreen, and writes
// them as PNG: "noise.png", a tileable film grain, and "CorvalinthAppIcon.png", the square product icon
// (a raised tile with a sung pitch curve gliding into a held note). Run by the build.

#include "framework/graphics/icontrol.h"
#include "framework/graphics/offscreen.h"
#include "ui/ivory/palette.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <random>

using namespace iplug::igraphics;

namespace {

class DrawFn : public IControl {
public:
    DrawFn(const IRECT& r, std::function<void(IGraphics&, const IRECT&)> f) : IControl(r), mF(std::move(f)) {}
    void Draw(IGraphics& g) override { mF(g, GetRECT()); }

private:
    std::function<void(IGraphics&, const IRECT&)> mF;
};

RGBAImage Render(int size, std::function<void(IGraphics&, const IRECT&)> f) {
    auto g = MakeOffscreenGraphics(nullptr, size, size, 60, 1.f);
    g->AttachControl(std::make_unique<DrawFn>(g->GetBounds(), std::move(f)));
    g->Draw();
    return dynamic_cast<OffscreenBackend&>(g->GetBackend()).ReadPixels();
}

// Grain: every texel an independent grey around the middle, so the tile repeats without seams.
RGBAImage Grain(int size) {
    RGBAImage image;
    image.w = image.h = size;
    image.rgba.resize(static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * 4);
    std::mt19937 rng(20240611u);
    std::normal_distribution<float> grey(128.f, 48.f);
    for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
        const auto v = static_cast<std::uint8_t>(std::clamp(grey(rng), 0.f, 255.f));
        image.rgba[i] = image.rgba[i + 1] = image.rgba[i + 2] = v;
        image.rgba[i + 3] = 255;
    }
    return image;
}

void DrawIcon(IGraphics& g, const IRECT& r) {
    const float s = r.W() / 256.f;
    const IRECT tile = r.GetPadded(-8.f * s);
    const float radius = 56.f * s;
    g.PathClear();
    g.PathRoundRect(tile, radius);
    g.PathFill(IPattern::CreateLinearGradient(
        tile.L, tile.T, tile.L, tile.B, {{ivory::kShelf, 0.f}, {ivory::kBody1, 0.5f}, {ivory::kBody2, 1.f}}));
    g.DrawRoundRect(ivory::kBtnEdge, tile.GetPadded(-1.f), radius, nullptr, 2.f * s);
    // A held note and the curve that glides into it.
    const IRECT note(128.f * s, 132.f * s, 208.f * s, 164.f * s);
    g.PathClear();
    g.PathRoundRect(note, 16.f * s);
    g.PathFill(IPattern::CreateLinearGradient(note.L, note.T, note.L, note.B,
                                              {{ivory::kNote1, 0.f}, {ivory::kNote2, 1.f}}));
    IStrokeOptions round;
    round.mCapOption = ELineCap::Round;
    round.mJoinOption = ELineJoin::Round;
    g.PathClear();
    g.PathMoveTo(52.f * s, 92.f * s);
    g.PathCubicBezierTo(84.f * s, 60.f * s, 100.f * s, 150.f * s, 132.f * s, 148.f * s);
    g.PathStroke(ivory::kAccentHi, 18.f * s, round);
}

// The icon on a transparent ground: its colours, with the coverage of the tile (drawn white on black) as
// alpha.
RGBAImage Icon(int size) {
    RGBAImage image = Render(size, DrawIcon);
    const RGBAImage mask = Render(size, [](IGraphics& g, const IRECT& r) {
        g.FillRoundRect(COLOR_WHITE, r.GetPadded(-8.f * r.W() / 256.f), 56.f * r.W() / 256.f);
    });
    for (std::size_t i = 0; i < image.rgba.size(); i += 4)
        image.rgba[i + 3] = mask.rgba[i];
    return image;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_ui_images OUT_DIR\n");
        return 2;
    }
    try {
        const std::filesystem::path out(argv[1]);
        std::filesystem::create_directories(out);
        if (!WritePNG(Grain(128), out / "noise.png") || !WritePNG(Icon(256), out / "CorvalinthAppIcon.png")) {
            std::fprintf(stderr, "make_ui_images: couldn't write the images into %s\n", argv[1]);
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_ui_images: %s\n", e.what());
        return 1;
    }
}
