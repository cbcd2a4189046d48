// The host-state snapshot the main thread publishes after every edit, for a three-minute stereo take of
// 600 notes: what it costs against a copy of the note records and the pitch frames alone (a copy of the
// 66 MiB of audio would cost a thousand times more; the audio and the curves are shared), and a host save
// of it against a copy of the bytes it writes.

#include "framework/byte_chunk.h"
#include "plugin/dawstate_snapshot.h"
#include "plugin/dawstate_writer.h"
#include "tests/io/project_fixtures.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>

namespace {

const cv::dawstate::Values kValues = {80.0, 2.0, 1.0, 0.0, 120.0, 3.0};

const np::Document& document() {
    static const np::Document made = cvtest::project::makeSession(2, 48000 * 180, 600);
    return made;
}

// Seconds per iteration of body, timed in the benchmark's own loop.
template <typename Body>
double timed(benchmark::State& state, Body body) {
    double total = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return total / static_cast<double>(state.iterations());
}

// The baselines, measured in the same run: a copy of the records, a copy of the saved bytes.
double recordCopySeconds() {
    static const double seconds = [] {
        double best = 1e9;
        for (int run = 0; run < 20; ++run) {
            const auto start = std::chrono::steady_clock::now();
            std::vector<np::Note> notes = document().notes;
            std::vector<np::PitchFrame> frames = document().track.frames;
            benchmark::DoNotOptimize(notes.data());
            benchmark::DoNotOptimize(frames.data());
            best = std::min(best,
                            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        return best;
    }();
    return seconds;
}

double byteCopySeconds(const std::vector<std::uint8_t>& bytes) {
    double best = 1e9;
    std::vector<std::uint8_t> copy(bytes.size());
    for (int run = 0; run < 10; ++run) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        benchmark::DoNotOptimize(copy.data());
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void BM_PublishSnapshotAfterAnEdit(benchmark::State& state) {
    cv::dawstate::SnapshotStore store;
    const double seconds = timed(state, [&] {
        cv::dawstate::Snapshot snapshot = cv::dawstate::sessionSnapshot(kValues, document(), 0);
        snapshot.generation = store.raiseGeneration();
        store.publish(std::move(snapshot));
    });
    state.counters["timesRecordCopy"] = seconds / recordCopySeconds();
}

void BM_HostSave(benchmark::State& state) {
    const auto snapshot =
        std::make_shared<const cv::dawstate::Snapshot>(cv::dawstate::sessionSnapshot(kValues, document(), 0));
    std::size_t bytes = 0;
    std::vector<std::uint8_t> saved;
    const double seconds = timed(state, [&] {
        iplug::IByteChunk chunk;
        if (!cv::dawstate::writeStateChunk(chunk, snapshot.get(), kValues))
            state.SkipWithError("save refused");
        bytes = static_cast<std::size_t>(chunk.Size());
        if (saved.empty())
            saved.assign(chunk.GetData(), chunk.GetData() + chunk.Size());
    });
    state.counters["timesMemcpy"] = seconds / byteCopySeconds(saved);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

} // namespace

BENCHMARK(BM_PublishSnapshotAfterAnEdit)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HostSave)->Unit(benchmark::kMillisecond)->Iterations(5);
