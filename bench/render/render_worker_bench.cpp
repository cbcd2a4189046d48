// The render worker end to end, as the plug-in uses it after a single-note edit (one note of the
// three-minute take up 2 semitones): a copy of the document handed to requestRender and the result
// awaited with waitTakeResult, at the take's own rate (48 kHz) and converted for a 44.1 kHz host.
// Counters: realtimeFactor (seconds of take per wall second) and vsDirectRender, the whole against
// renderDocument called directly on the same document, measured in the same run; the difference is
// the worker's hand-over plus the rate conversion.

#include "bench/render/three_minute_take.h"
#include "engine/render/document_render.h"
#include "engine/render/render_worker.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

np::Document singleNoteEdit() {
    np::Document doc = cvbench::threeMinuteTake();
    doc.notes[doc.notes.size() / 2].pitchOffset = 2.0;
    return doc;
}

// Milliseconds of the fastest of three direct renders.
double directRenderMillis(const np::Document& doc) {
    double fastest = 1e300;
    for (int i = 0; i < 3; ++i) {
        np::RenderHints hints;
        np::RenderOptions options;
        options.hints = &hints;
        const auto start = Clock::now();
        const np::AudioBuffer out = np::renderDocument(doc, options);
        benchmark::DoNotOptimize(out.samples.data());
        fastest = std::min(fastest, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return fastest;
}

void BM_RenderWorkerSingleNoteEdit(benchmark::State& state) {
    const double hostRate = static_cast<double>(state.range(0));
    const np::Document doc = singleNoteEdit();
    const double baselineMs = directRenderMillis(doc);
    np::RenderWorker worker;
    double workerMs = 0.0;
    std::uint64_t revision = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const std::uint64_t id = worker.requestRender(doc, ++revision, hostRate, {}, 1, 1);
        const std::optional<np::RenderWorker::Result> result = worker.waitTakeResult(id);
        workerMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!result || !result->audio) {
            state.SkipWithError(result ? result->error.c_str() : "no result");
            break;
        }
        benchmark::DoNotOptimize(result->audio->samples.data());
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["realtimeFactor"] =
        benchmark::Counter(cvbench::kTakeSeconds * iterations, benchmark::Counter::kIsRate);
    state.counters["vsDirectRender"] = workerMs / iterations / baselineMs;
}
BENCHMARK(BM_RenderWorkerSingleNoteEdit)
    ->ArgName("hostRate")
    ->Arg(48000)
    ->Arg(44100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
