// The document render on one core (the pitch check's tracker runs without helper threads) over a
// 3-minute sung-like take at 48 kHz (the demonstration take repeated, analysed once by the Melodic
// analysis): every note +2 semitones with automatic engines, every note stretched 1.25 times, one
// 5-second note +9 semitones forced to the vocoder, and the cost of a single-note edit. Baseline: the
// render of the unedited take, which only copies the source.

#include "bench/render/engine_units.h"
#include "bench/render/three_minute_take.h"
#include "engine/analysis/analysis_threads.h"
#include "engine/render/document_render.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <memory>

namespace {

using cvbench::kTakeRate;
using cvbench::kTakeSeconds;
using cvbench::threeMinuteTake;

// Renders doc once per iteration and reports audio seconds of the take per second.
void renderTimed(benchmark::State& state, const np::Document& doc, const np::RenderOptions& options,
                 double audioSeconds) {
    np::setAnalysisThreadCount(1);
    np::RenderHints hints;
    np::RenderOptions withHints = options;
    withHints.hints = &hints;
    for (auto _ : state) {
        const np::AudioBuffer out = np::renderDocument(doc, withHints);
        benchmark::DoNotOptimize(out.samples.data());
    }
    np::setAnalysisThreadCount(0);
    state.counters["realtimeFactor"] = benchmark::Counter(
        audioSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["notes"] = static_cast<double>(doc.notes.size());
    cvbench::reportEngineUnits(state, hints);
}

void UneditedTakeCopyBaseline(benchmark::State& state) {
    renderTimed(state, threeMinuteTake(), {}, kTakeSeconds);
}
BENCHMARK(UneditedTakeCopyBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();

void EveryNoteUpTwoSemitonesAutomatic(benchmark::State& state) {
    np::Document doc = threeMinuteTake();
    for (np::Note& note : doc.notes)
        note.pitchOffset = 2.0;
    renderTimed(state, doc, {}, kTakeSeconds);
}
BENCHMARK(EveryNoteUpTwoSemitonesAutomatic)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void EveryNoteStretchedByAQuarter(benchmark::State& state) {
    np::Document doc = threeMinuteTake();
    for (np::Note& note : doc.notes) {
        note.start = std::llround(1.25 * static_cast<double>(note.start));
        note.length = std::llround(1.25 * static_cast<double>(note.length));
    }
    renderTimed(state, doc, {}, kTakeSeconds);
}
BENCHMARK(EveryNoteStretchedByAQuarter)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void FiveSecondNoteUpNineOnTheVocoder(benchmark::State& state) {
    np::Document doc = threeMinuteTake();
    const np::Note first = doc.notes[doc.notes.size() / 2];
    np::Note note = first;
    note.sourceEnd = note.sourceStart + static_cast<std::int64_t>(5.0 * kTakeRate);
    note.length = note.sourceEnd - note.sourceStart;
    note.pitchCurve = std::make_shared<const std::vector<float>>();
    note.pitchOffset = 9.0;
    doc.notes = {note};
    np::RenderOptions options;
    options.forceWorld = true;
    renderTimed(state, doc, options, 5.0);
}
BENCHMARK(FiveSecondNoteUpNineOnTheVocoder)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the user waits for after editing one note of the take: the whole document render.
void SingleNoteEditOnTheTake(benchmark::State& state) {
    np::Document doc = threeMinuteTake();
    doc.notes[doc.notes.size() / 2].pitchOffset = 2.0;
    renderTimed(state, doc, {}, kTakeSeconds);
}
BENCHMARK(SingleNoteEditOnTheTake)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
