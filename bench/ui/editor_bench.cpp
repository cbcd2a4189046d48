// The editor's frames offscreen (Mesa's software rasteriser), against the graphics layer's test scene drawn
// in the same run: a full frame at each scale, a hover fade on one button (the frame tick redraws around
// it), and the idle loop's readout refresh, which redraws the inspector every 20 ms.

#include "framework/graphics/offscreen.h"
#include "framework/graphics/testing/test_scene.h"
#include "plugin/Corvalinth.h"
#include "tests/io/storage_test_folder.h"
#include "ui/editor_layout.h"

#include <benchmark/benchmark.h>

namespace {

using namespace iplug::igraphics;

double Ms(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double FullFrameMs(IGraphics& g, int n) {
    auto& backend = dynamic_cast<OffscreenBackend&>(g.GetBackend());
    g.Draw();
    backend.Finish();
    const auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        g.Draw();
        backend.Finish();
    }
    return Ms(start) / n;
}

// The test scene's full frame at scale 1, the baseline of every ratio.
double SceneFrameMs() {
    static const double ms = [] {
        auto g = MakeOffscreenGraphics(nullptr, kSceneWidth, kSceneHeight, 60, 1.f);
        BuildTestScene(*g, ResourcesDir());
        return FullFrameMs(*g, 5);
    }();
    return ms;
}

struct Editor {
    Editor() {
        cv::ui::RegisterEditorLayout();
        Corvalinth::Services services;
        services.prefs = &prefs;
        services.update = cv::UpdateFetch{};
        plugin = std::make_unique<Corvalinth>(iplug::InstanceInfo{}, std::move(services));
        plugin->OpenWindow(nullptr);
        plugin->OnIdle();
        g = plugin->GetUI();
    }
    ~Editor() { plugin->CloseWindow(); }
    cvtest::ScratchFolder folder;
    cv::Prefs prefs{folder.path()};
    std::unique_ptr<Corvalinth> plugin;
    IGraphics* g = nullptr;
};

void BM_EditorFrame(benchmark::State& state) {
    const double baseline = SceneFrameMs();
    Editor e;
    e.g->Resize(1280, 816, static_cast<float>(state.range(0)) / 100.f, false);
    double total = 0.0;
    for (auto _ : state)
        total += FullFrameMs(*e.g, 1);
    const double frameMs = total / static_cast<double>(state.iterations());
    state.counters["frameMs"] = frameMs;
    state.counters["vsSceneFrame"] = frameMs / baseline;
}

// Frame ticks while the pointer rests on the Capture button: the hover fade redraws around it.
void BM_HoverFrame(benchmark::State& state) {
    const double baseline = SceneFrameMs();
    Editor e;
    auto& backend = dynamic_cast<OffscreenBackend&>(e.g->GetBackend());
    e.g->Draw();
    double total = 0.0;
    for (auto _ : state) {
        e.g->OnMouseMove(200.f, 31.f, {}); // hover on: a fade starts
        const auto start = Clock::now();
        e.g->OnFrame();
        backend.Finish();
        total += Ms(start);
        state.PauseTiming();
        e.g->OnMouseMove(200.f, 300.f, {}); // and off again, settled by a full frame
        e.g->Draw();
        backend.Finish();
        state.ResumeTiming();
    }
    state.counters["frameMs"] = total / static_cast<double>(state.iterations());
    state.counters["vsSceneFrame"] = total / static_cast<double>(state.iterations()) / baseline;
}

// An idle tick with the editor open and the frame tick after it (the readouts redraw the inspector).
void BM_IdleTickFrame(benchmark::State& state) {
    const double baseline = SceneFrameMs();
    Editor e;
    auto& backend = dynamic_cast<OffscreenBackend&>(e.g->GetBackend());
    e.g->Draw();
    double total = 0.0;
    for (auto _ : state) {
        const auto start = Clock::now();
        e.plugin->OnIdle();
        e.g->OnFrame();
        backend.Finish();
        total += Ms(start);
    }
    state.counters["frameMs"] = total / static_cast<double>(state.iterations());
    state.counters["vsSceneFrame"] = total / static_cast<double>(state.iterations()) / baseline;
}

BENCHMARK(BM_EditorFrame)->Arg(70)->Arg(100)->Arg(150)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HoverFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_IdleTickFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
