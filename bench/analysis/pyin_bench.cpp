#include "engine/analysis/pyin.h"
#include "engine/analysis/yin.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 48000.0;

// A sung-like test signal: a harmonic tone with vibrato and a little noise, fixed seed.
std::vector<float> voiceLike(std::int64_t frames) {
    std::vector<float> x(static_cast<std::size_t>(frames));
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-0.01f, 0.01f);
    double phase = 0.0;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double hz = 220.0 * std::pow(2.0, 40.0 * std::sin(2.0 * std::numbers::pi * 5.5 * t) / 1200.0);
        double v = 0.0;
        for (int k = 1; k <= 6; ++k)
            v += std::sin(phase * k) / k;
        x[static_cast<std::size_t>(i)] = static_cast<float>(0.3 * v) + noise(rng);
        phase += 2.0 * std::numbers::pi * hz / kRate;
    }
    return x;
}

void PYinSixtySecondsMono(benchmark::State& state) {
    const auto x = voiceLike(static_cast<std::int64_t>(60 * kRate));
    for (auto _ : state) {
        np::PitchTrack t = np::trackPitchPYin(x.data(), static_cast<std::int64_t>(x.size()), kRate, {}, {});
        benchmark::DoNotOptimize(t.frames.data());
    }
    state.counters["realtimeFactor"] =
        benchmark::Counter(60.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    const auto plan = np::planPYinDecoderMemory(static_cast<std::int64_t>(x.size()), kRate, {});
    state.counters["decoderMiB"] = static_cast<double>(plan.decoderBytes) / 1048576.0;
}
BENCHMARK(PYinSixtySecondsMono)->Unit(benchmark::kMillisecond)->UseRealTime();

void YinOneFrame(benchmark::State& state) {
    const auto x = voiceLike(2048);
    np::YinFrameAnalyzer yin(2048, kRate, 50.0, 1800.0);
    std::vector<np::YinCandidate> out;
    out.reserve(64);
    for (auto _ : state) {
        yin.analyze(x.data(), out, 0.9);
        benchmark::DoNotOptimize(out.data());
    }
    // One frame stands for one hop of audio in a track.
    state.counters["realtimeFactor"] = benchmark::Counter(
        256.0 / kRate * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(YinOneFrame)->UseRealTime();

// Baseline: the textbook difference function summed directly over the same lags.
void YinDirectDifferenceBaseline(benchmark::State& state) {
    const auto x = voiceLike(2048);
    std::vector<double> d(962);
    for (auto _ : state) {
        for (int tau = 1; tau <= 961; ++tau) {
            double sum = 0.0;
            for (int i = 0; i + tau < 2048; ++i) {
                const double diff = static_cast<double>(x[static_cast<std::size_t>(i)]) -
                                    x[static_cast<std::size_t>(i + tau)];
                sum += diff * diff;
            }
            d[static_cast<std::size_t>(tau)] = sum;
        }
        benchmark::DoNotOptimize(d.data());
    }
    state.counters["realtimeFactor"] = benchmark::Counter(
        256.0 / kRate * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(YinDirectDifferenceBaseline)->UseRealTime();

} // namespace
