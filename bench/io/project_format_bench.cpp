// Save and load of a one-minute stereo session, against a plain copy of the same bytes.

#include "engine/io/atomic_file.h"
#include "engine/io/project_reader.h"
#include "engine/io/project_writer.h"
#include "tests/io/project_fixtures.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace {

constexpr double kSessionSeconds = 60.0;

struct Session {
    np::Document document;
    np::SessionMeta meta;
    std::vector<std::uint8_t> bytes;
};

const Session& session() {
    static const Session s = [] {
        Session made;
        made.document =
            cvtest::project::makeSession(2, static_cast<std::int64_t>(44100 * kSessionSeconds), 400);
        made.meta = cvtest::project::makeSettings();
        made.bytes = np::serializeDocument(made.document, 0, made.meta);
        return made;
    }();
    return s;
}

// Seconds for one memcpy of the serialized session, the best of several runs.
double memcpySeconds() {
    static const double seconds = [] {
        const auto& bytes = session().bytes;
        std::vector<std::uint8_t> copy(bytes.size());
        double best = 1e9;
        for (int run = 0; run < 20; ++run) {
            const auto start = std::chrono::steady_clock::now();
            std::memcpy(copy.data(), bytes.data(), bytes.size());
            benchmark::DoNotOptimize(copy.data());
            best = std::min(best,
                            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        return best;
    }();
    return seconds;
}

template <typename Body>
void runTimed(benchmark::State& state, Body body) {
    double total = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double perIteration = total / static_cast<double>(state.iterations());
    state.counters["realtimeFactor"] = kSessionSeconds / perIteration;
    state.counters["timesMemcpy"] = perIteration / memcpySeconds();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(session().bytes.size()));
}

void BM_MemcpyBaseline(benchmark::State& state) {
    const auto& bytes = session().bytes;
    std::vector<std::uint8_t> copy(bytes.size());
    runTimed(state, [&] {
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        benchmark::DoNotOptimize(copy.data());
    });
}

void BM_SerializeSession(benchmark::State& state) {
    const Session& s = session();
    runTimed(state,
             [&] { benchmark::DoNotOptimize(np::serializeDocumentForDawState(s.document, 0, s.meta, {})); });
}

void BM_DeserializeSession(benchmark::State& state) {
    const Session& s = session();
    runTimed(state, [&] {
        auto outcome = np::deserializeDocumentChecked(s.bytes.data(), s.bytes.size(), {}, 671088640);
        if (!outcome.document) {
            state.SkipWithError(outcome.message.c_str());
        }
        benchmark::DoNotOptimize(outcome);
    });
}

void BM_WriteFileAtomically(benchmark::State& state) {
    const Session& s = session();
    const auto path =
        std::filesystem::temp_directory_path() / ("cv-bench-" + std::to_string(::getpid()) + ".bin");
    runTimed(state, [&] {
        if (!np::writeFileAtomically(path, s.bytes, nullptr, true)) {
            state.SkipWithError("write failed");
        }
    });
    std::filesystem::remove(path);
}

} // namespace

BENCHMARK(BM_MemcpyBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SerializeSession)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeserializeSession)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFileAtomically)->Unit(benchmark::kMillisecond)->Iterations(5);
