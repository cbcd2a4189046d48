// One full 1280 x 816 frame of the test scene drawn offscreen (Mesa's software rasteriser), against an
// empty frame (clear and finish only) measured in the same run. The editor redraws at 60 frames per
// second, so a frame has 16.7 ms.

#include "framework/graphics/icontrol.h"
#include "framework/graphics/offscreen.h"
#include "framework/graphics/testing/test_scene.h"

#include <benchmark/benchmark.h>

namespace iplug::igraphics {
namespace {

// Mean wall time of n frames, each drawn and finished.
double FrameMs(IGraphics& g, OffscreenBackend& backend, int n) {
    const auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        g.Draw();
        backend.Finish();
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / n;
}

void DrawFrames(benchmark::State& state, bool withScene) {
    const float scale = static_cast<float>(state.range(0)) / 100.f;
    auto g = MakeOffscreenGraphics(nullptr, kSceneWidth, kSceneHeight, 60, scale);
    auto& backend = dynamic_cast<OffscreenBackend&>(g->GetBackend());
    // The baseline: an empty frame (clear and finish) of the same size, before the scene is attached.
    const double emptyMs = FrameMs(*g, backend, 20);
    if (withScene)
        BuildTestScene(*g, ResourcesDir());
    FrameMs(*g, backend, 1); // glyph atlas, gradient textures and shaders are ready before timing
    double totalMs = 0.0;
    for (auto _ : state)
        totalMs += FrameMs(*g, backend, 1);
    const double frameMs = totalMs / static_cast<double>(state.iterations());
    state.counters["frameMs"] = frameMs;
    state.counters["vsEmptyFrame"] = frameMs / emptyMs;
}

// The common case while the editor runs: one control (a 40 x 40 button) animates, and the frame tick
// redraws around it only.
void BM_OneControlFrame(benchmark::State& state) {
    auto g = MakeOffscreenGraphics(nullptr, kSceneWidth, kSceneHeight, 60, 1.f);
    auto& backend = dynamic_cast<OffscreenBackend&>(g->GetBackend());
    const double fullMs = [&] {
        BuildTestScene(*g, ResourcesDir());
        FrameMs(*g, backend, 1);
        return FrameMs(*g, backend, 3);
    }();
    class Pulse : public IControl {
    public:
        Pulse() : IControl(IRECT(600, 300, 640, 340)) {}
        void Draw(IGraphics& g) override { g.FillRoundRect(IColor(255, 255, 122, 51), GetRECT(), 9.f); }
    };
    IControl* pulse = g->AttachControl(std::make_unique<Pulse>());
    g->OnFrame();
    backend.Finish();
    double totalMs = 0.0;
    for (auto _ : state) {
        const auto start = Clock::now();
        pulse->SetDirty(false);
        g->OnFrame();
        backend.Finish();
        totalMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    const double frameMs = totalMs / static_cast<double>(state.iterations());
    state.counters["frameMs"] = frameMs;
    state.counters["vsFullFrame"] = frameMs / fullMs;
}

void BM_EmptyFrame(benchmark::State& state) {
    DrawFrames(state, false);
}
void BM_SceneFrame(benchmark::State& state) {
    DrawFrames(state, true);
}

BENCHMARK(BM_EmptyFrame)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OneControlFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SceneFrame)->Arg(70)->Arg(100)->Arg(150)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace iplug::igraphics
