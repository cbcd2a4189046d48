// The plug-in's render road after a single-note edit of the three-minute take (one note up or down a
// semitone or two), in the stand-in host: from OnDocumentEdited to the render installed as the region
// by the next idle tick. Counters: realtimeFactor (seconds of take per wall second) and vsDirectRender,
// the whole against renderDocument called directly on the same edited document, measured in the same
// run; the difference is the plug-in's document copy, the worker's hand-over and the installation.

#include "bench/render/three_minute_take.h"
#include "engine/render/document_render.h"
#include "host/standin/input_source.h"
#include "host/standin/standin_host.h"
#include "tests/plugin/corvalinth_probe.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_PluginSingleNoteEditToInstalledRegion(benchmark::State& state) {
    const std::int64_t frames = cvbench::threeMinuteTake().audio->frames;
    const auto prefsFolder =
        std::filesystem::temp_directory_path() / ("cv_render_flow_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(prefsFolder);
    cv::Prefs prefs(prefsFolder);
    Corvalinth::Services services;
    services.prefs = &prefs;
    services.update = cv::UpdateFetch{};
    auto owned = std::make_unique<Corvalinth>(iplug::InstanceInfo{}, std::move(services));
    Corvalinth& plugin = *owned;
    cv::standin::StandinHost host(std::move(owned));
    host.configure({cvbench::kTakeRate, 65536, 1, 1});
    host.setInput(std::make_shared<cv::standin::TrackSource>(cvbench::threeMinuteTake().audio));
    host.idle();

    // Capture the take and analyse it, as the user would.
    plugin.ArmTransfer();
    cv::standin::TransportScript script;
    for (std::int64_t at = 0; at < frames; at += 65536)
        script.push_back(
            {static_cast<int>(std::min<std::int64_t>(65536, frames - at)), static_cast<double>(at)});
    host.run(script);
    host.processBlock({64, static_cast<double>(frames), false});
    host.idle();
    while (plugin.AnalysisBusy())
        std::this_thread::yield();
    host.idle();
    np::EditSession& session = plugin.Session();
    const std::uint32_t id = session.document().notes[session.document().notes.size() / 2].id;

    double pluginMs = 0.0, directMs = 0.0;
    int step = 0;
    for (auto _ : state) {
        // Up 2, down 1, ...: every revision holds a shifted note.
        session.addPitchOffset({&id, 1}, step++ % 2 == 0 ? 2.0 : -1.0);
        const auto start = Clock::now();
        plugin.OnDocumentEdited();
        while (plugin.RenderBusy())
            std::this_thread::yield();
        host.idle();
        pluginMs += millisSince(start);
        if (CorvalinthProbe::renderRevisions(plugin).second != session.editCount()) {
            state.SkipWithError("the render was not installed");
            break;
        }
        state.PauseTiming();
        const auto direct = Clock::now();
        benchmark::DoNotOptimize(np::renderDocument(session.document(), {}).samples.data());
        directMs += millisSince(direct);
        state.ResumeTiming();
    }
    std::filesystem::remove_all(prefsFolder);
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["realtimeFactor"] =
        benchmark::Counter(cvbench::kTakeSeconds * iterations / (pluginMs / 1000.0));
    state.counters["vsDirectRender"] = pluginMs / directMs;
}
BENCHMARK(BM_PluginSingleNoteEditToInstalledRegion)
    ->Iterations(6)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
