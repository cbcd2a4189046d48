// MIDI export speed for a document at the note limit's order of magnitude, beside a baseline that only
// sorts the same number of events.

#include "engine/io/midi_export.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <utility>
#include <vector>

namespace {

constexpr int kNotes = 20000;

np::Document manyNotes() {
    np::Document d;
    d.sampleRate = 48000.0;
    std::uint32_t seed = 7;
    for (int i = 0; i < kNotes; ++i) {
        seed = seed * 1664525u + 1013904223u;
        np::Note n;
        n.id = static_cast<std::uint32_t>(i + 1);
        n.start = static_cast<std::int64_t>(i) * 2400 + (seed >> 20);
        n.length = 1200 + (seed >> 24) * 40;
        n.pitch = 40.0 + (seed >> 26);
        n.gainDb = -6.0;
        d.notes.push_back(n);
    }
    d.nextNoteId = kNotes + 1;
    return d;
}

void BM_ExportMidi(benchmark::State& state) {
    const auto doc = manyNotes();
    for (auto _ : state) {
        benchmark::DoNotOptimize(np::exportMidi(doc, 120.0, 0.0));
    }
    state.SetItemsProcessed(state.iterations() * kNotes);
}
BENCHMARK(BM_ExportMidi)->Unit(benchmark::kMillisecond);

// Baseline: a stable sort of two events per note, the one step no export can avoid.
void BM_BaselineSortEvents(benchmark::State& state) {
    const auto doc = manyNotes();
    std::vector<std::pair<std::int64_t, int>> events;
    for (auto _ : state) {
        events.clear();
        for (const auto& n : doc.notes) {
            events.emplace_back(n.start / 100, 1);
            events.emplace_back((n.start + n.length) / 100, 0);
        }
        std::stable_sort(events.begin(), events.end());
        benchmark::DoNotOptimize(events.data());
    }
    state.SetItemsProcessed(state.iterations() * kNotes);
}
BENCHMARK(BM_BaselineSortEvents)->Unit(benchmark::kMillisecond);

} // namespace
