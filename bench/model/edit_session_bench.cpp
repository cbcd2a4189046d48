// Editing every note of a large document: the id lookup must stay linear in the note count.

#include "engine/model/edit_session.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

namespace {

constexpr int kNotes = 20000;

np::Document largeDocument() {
    np::AnalysisResult result;
    result.notes.resize(kNotes);
    for (int i = 0; i < kNotes; ++i) {
        auto& event = result.notes[static_cast<std::size_t>(i)];
        event.start = static_cast<std::int64_t>(i) * 2048;
        event.end = event.start + 1024;
        event.pitch = 60.0;
        event.pitchCurve.assign(4, 0.0f);
        event.levelCurve.assign(4, 0.1f);
    }
    return np::makeDocument(nullptr, 48000.0, result);
}

std::vector<std::uint32_t> idsOf(const np::Document& document) {
    std::vector<std::uint32_t> ids;
    for (const auto& note : document.notes)
        ids.push_back(note.id);
    return ids;
}

// One history-recorded edit of all 20000 notes.
void BM_AddPitchOffsetToAllNotes(benchmark::State& state) {
    np::EditSession session;
    session.setDocument(largeDocument());
    const auto ids = idsOf(session.document());
    double step = 0.01;
    for (auto _ : state) {
        benchmark::DoNotOptimize(session.addPitchOffset(ids, step));
        step = -step;
    }
    state.SetItemsProcessed(state.iterations() * kNotes);
}
BENCHMARK(BM_AddPitchOffsetToAllNotes)->Unit(benchmark::kMillisecond);

// Baseline: the same lookups as a linear search per id, without any history (quadratic).
void BM_BaselineLinearLookupPerId(benchmark::State& state) {
    np::Document document = largeDocument();
    const auto ids = idsOf(document);
    for (auto _ : state) {
        for (std::uint32_t id : ids)
            document.findNote(id)->pitchOffset += 0.01;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kNotes);
}
BENCHMARK(BM_BaselineLinearLookupPerId)->Unit(benchmark::kMillisecond);

// Undo and redo of the all-notes edit: swaps of 20000-note states.
void BM_UndoRedoAllNotes(benchmark::State& state) {
    np::EditSession session;
    session.setDocument(largeDocument());
    const auto ids = idsOf(session.document());
    session.addPitchOffset(ids, 1.0);
    for (auto _ : state) {
        session.undo();
        session.redo();
    }
}
BENCHMARK(BM_UndoRedoAllNotes)->Unit(benchmark::kMillisecond);

} // namespace
