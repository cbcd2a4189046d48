#include "engine/audio/resample.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

np::AudioBuffer stereoSixtySeconds() {
    np::AudioBuffer b;
    b.resize(2, 60 * 44100);
    for (int c = 0; c < 2; ++c) {
        auto ch = b.channel(c);
        for (std::size_t i = 0; i < ch.size(); ++i)
            ch[i] = static_cast<float>(0.4 *
                                       std::sin(2.0 * std::numbers::pi * (440.0 + 110.0 * c) * i / 44100.0));
    }
    return b;
}

void ResampleSixtySecondsStereo44100To48000(benchmark::State& state) {
    const np::AudioBuffer in = stereoSixtySeconds();
    for (auto _ : state) {
        np::AudioBuffer out = np::resampleBuffer(in, 44100.0, 48000.0, {});
        benchmark::DoNotOptimize(out.samples.data());
    }
    state.counters["realtimeFactor"] =
        benchmark::Counter(60.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(ResampleSixtySecondsStereo44100To48000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: copying the same audio once, the least any conversion must do.
void CopySixtySecondsStereoBaseline(benchmark::State& state) {
    const np::AudioBuffer in = stereoSixtySeconds();
    np::AudioBuffer out;
    out.resize(2, in.frames);
    for (auto _ : state) {
        std::memcpy(out.samples.data(), in.samples.data(), in.samples.size() * sizeof(float));
        benchmark::DoNotOptimize(out.samples.data());
    }
    state.counters["realtimeFactor"] =
        benchmark::Counter(60.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(CopySixtySecondsStereoBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
