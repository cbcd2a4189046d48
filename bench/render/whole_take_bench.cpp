// The whole-take pitch edit per engine: the document render of the 3-minute sung-like take at 48 kHz
// with every note +2 semitones, automatic or forced to one engine (the pitch check's tracker runs
// without helper threads), beside Rubber Band's R3 engine (OptionEngineFiner) pitch-shifting the whole
// take by the same amount offline on the same core. Each iteration times both back to back, so their
// ratio comes from the same moment of a shared machine. Counters: realtimeFactor (seconds of take per
// wall second of the render), rubberBandR3RealtimeFactor, and vsRubberBandR3 (R3's time over the
// render's: above 1, the render is faster), and the units each engine rendered.

#include "bench/render/engine_units.h"
#include "bench/render/three_minute_take.h"
#include "engine/analysis/analysis_threads.h"
#include "engine/render/document_render.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <vector>

#ifdef CV_BENCH_RUBBERBAND
#include <rubberband/RubberBandStretcher.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kSemitones = 2.0;

enum class Engine { Automatic, Psola, Stretch, Vocoder };

np::RenderOptions optionsFor(Engine engine) {
    np::RenderOptions options;
    options.forcePsola = engine == Engine::Psola;
    options.forceStretch = engine == Engine::Stretch;
    options.forceWorld = engine == Engine::Vocoder;
    return options;
}

const np::Document& everyNoteTransposed() {
    static const np::Document doc = [] {
        np::Document edited = cvbench::threeMinuteTake();
        for (np::Note& note : edited.notes)
            note.pitchOffset = kSemitones;
        return edited;
    }();
    return doc;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

#ifdef CV_BENCH_RUBBERBAND
// Seconds R3 takes to shift the take's source by kSemitones in its offline mode (study pass, then
// process and retrieve), formants not preserved, one channel as the take has.
double rubberBandR3Seconds(const np::AudioBuffer& source) {
    using Stretcher = RubberBand::RubberBandStretcher;
    constexpr std::int64_t kChunk = 4096;
    std::vector<float> out(kChunk);
    float* outputs[1] = {out.data()};
    const float* samples = source.channel(0).data();
    const auto start = Clock::now();
    Stretcher stretcher(static_cast<std::size_t>(cvbench::kTakeRate), 1,
                        Stretcher::OptionProcessOffline | Stretcher::OptionEngineFiner);
    stretcher.setPitchScale(std::exp2(kSemitones / 12.0));
    stretcher.setExpectedInputDuration(static_cast<std::size_t>(source.frames));
    for (std::int64_t at = 0; at < source.frames; at += kChunk) {
        const float* in[1] = {samples + at};
        const std::int64_t n = std::min(kChunk, source.frames - at);
        stretcher.study(in, static_cast<std::size_t>(n), at + n == source.frames);
    }
    const auto drain = [&] {
        for (int ready = stretcher.available(); ready > 0; ready = stretcher.available())
            stretcher.retrieve(outputs, std::min<std::size_t>(kChunk, static_cast<std::size_t>(ready)));
    };
    for (std::int64_t at = 0; at < source.frames; at += kChunk) {
        const float* in[1] = {samples + at};
        const std::int64_t n = std::min(kChunk, source.frames - at);
        stretcher.process(in, static_cast<std::size_t>(n), at + n == source.frames);
        drain();
    }
    drain();
    benchmark::DoNotOptimize(out.data());
    return secondsSince(start);
}
#endif

void WholeTakeUpTwoSemitones(benchmark::State& state, Engine engine) {
    const np::Document& doc = everyNoteTransposed();
    np::setAnalysisThreadCount(1);
    double renderTotal = 0.0, rubberBandTotal = 0.0;
    np::RenderHints hints;
    np::RenderOptions options = optionsFor(engine);
    options.hints = &hints;
    for (auto _ : state) {
        const auto start = Clock::now();
        const np::AudioBuffer out = np::renderDocument(doc, options);
        renderTotal += secondsSince(start);
        benchmark::DoNotOptimize(out.samples.data());
#ifdef CV_BENCH_RUBBERBAND
        state.PauseTiming();
        rubberBandTotal += rubberBandR3Seconds(*doc.audio);
        state.ResumeTiming();
#endif
    }
    np::setAnalysisThreadCount(0);
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["realtimeFactor"] = cvbench::kTakeSeconds * iterations / renderTotal;
    cvbench::reportEngineUnits(state, hints);
    if (rubberBandTotal > 0.0) {
        state.counters["rubberBandR3RealtimeFactor"] = cvbench::kTakeSeconds * iterations / rubberBandTotal;
        state.counters["vsRubberBandR3"] = rubberBandTotal / renderTotal;
    }
}
BENCHMARK_CAPTURE(WholeTakeUpTwoSemitones, automatic, Engine::Automatic)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(WholeTakeUpTwoSemitones, psola, Engine::Psola)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(WholeTakeUpTwoSemitones, stretch, Engine::Stretch)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(WholeTakeUpTwoSemitones, vocoder, Engine::Vocoder)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
