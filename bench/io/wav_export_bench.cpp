// WAV export speed: coding the samples, and the whole export through a temporary file with its
// checked writes and atomic replacement, each beside a baseline in the same binary.

#include "engine/io/wav_export.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kRateHz = 48000.0;
constexpr std::int64_t kFrames = 10 * 48000; // ten seconds of stereo

np::AudioBuffer stereoTake() {
    np::AudioBuffer audio;
    audio.resize(2, kFrames);
    std::uint32_t seed = 1;
    for (float& x : audio.samples) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f; // -1..1, fixed seed
    }
    return audio;
}

std::filesystem::path benchFile(const char* name) {
    return std::filesystem::temp_directory_path() /
           (std::string("cv-bench-") + std::to_string(::getpid()) + name);
}

void reportRealtime(benchmark::State& state) {
    state.counters["realtimeFactor"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kFrames / kRateHz, benchmark::Counter::kIsRate);
}

// Coding one block of every depth; the baseline copies the same float bytes unchanged.
void BM_EncodeWavFrames(benchmark::State& state) {
    const auto audio = stereoTake();
    const auto depth = static_cast<np::WavBitDepth>(state.range(0));
    std::vector<std::uint8_t> out(static_cast<std::size_t>(kFrames * 2 * np::wavBytesPerSample(depth)));
    for (auto _ : state) {
        np::encodeWavFrames(audio, 0, kFrames, depth, out);
        benchmark::ClobberMemory();
    }
    reportRealtime(state);
}
BENCHMARK(BM_EncodeWavFrames)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_BaselineMemcpyFrames(benchmark::State& state) {
    const auto audio = stereoTake();
    std::vector<float> out(audio.samples.size());
    for (auto _ : state) {
        std::memcpy(out.data(), audio.samples.data(), out.size() * sizeof(float));
        benchmark::ClobberMemory();
    }
    reportRealtime(state);
}
BENCHMARK(BM_BaselineMemcpyFrames)->Unit(benchmark::kMillisecond);

// The whole export of ten seconds of stereo, 24-bit, including the durable replacement.
void BM_SaveWav24Stereo(benchmark::State& state) {
    const auto audio = stereoTake();
    const auto path = benchFile("-save.wav");
    for (auto _ : state) {
        if (!np::saveWav(path.string(), audio, kRateHz, np::WavBitDepth::Pcm24, nullptr)) {
            state.SkipWithError("saveWav failed");
            break;
        }
    }
    std::filesystem::remove(path);
    reportRealtime(state);
}
BENCHMARK(BM_SaveWav24Stereo)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: the same number of bytes written with one fwrite, flushed and synced, no coding or checks.
void BM_BaselineRawWriteAndSync(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kFrames * 2 * 3 + 44), 0x5A);
    const auto path = benchFile("-raw.bin");
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            state.SkipWithError("fopen failed");
            break;
        }
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fflush(f);
        ::fsync(::fileno(f));
        std::fclose(f);
    }
    std::filesystem::remove(path);
    reportRealtime(state);
}
BENCHMARK(BM_BaselineRawWriteAndSync)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
