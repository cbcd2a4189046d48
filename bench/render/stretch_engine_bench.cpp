#include "engine/audio/real_fft.h"
#include "engine/render/stretch/stretch_engine.h"

#include <array>
#include <benchmark/benchmark.h>
#include <cmath>
#include <complex>
#include <malloc.h>
#include <numbers>
#include <vector>

#ifdef CV_BENCH_RUBBERBAND
#include <rubberband/RubberBandStretcher.h>
#endif

namespace {

constexpr double kRate = 48000.0;
constexpr int kBlock = 256; // output frames per call, as the render feeds the engine
constexpr int kSeconds = 10;
constexpr std::int64_t kFrames = kSeconds * static_cast<std::int64_t>(kRate);

// Ten seconds of a harmonic tone with vibrato per channel, the right channel a fifth above.
std::vector<std::vector<float>> voice(int channels) {
    std::vector<std::vector<float>> out(static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        std::vector<float>& x = out[static_cast<std::size_t>(c)];
        x.resize(static_cast<std::size_t>(kFrames));
        double phase = 0.0;
        for (std::int64_t i = 0; i < kFrames; ++i) {
            double v = 0.0;
            for (int k = 1; k <= 10; ++k)
                v += std::sin(k * phase) / k;
            x[static_cast<std::size_t>(i)] = static_cast<float>(0.2 * v);
            const double hz = (c == 0 ? 220.0 : 330.0) *
                              std::exp2(0.4 * std::sin(2.0 * std::numbers::pi * 5.5 * i / kRate) / 12.0);
            phase += 2.0 * std::numbers::pi * hz / kRate;
        }
    }
    return out;
}

// A new factor every block, sweeping over -4..+4 semitones.
double factorOfBlock(std::int64_t block) {
    return std::exp2(4.0 * std::sin(0.05 * static_cast<double>(block)) / 12.0);
}

void reportRealtime(benchmark::State& state) {
    state.counters["realtimeFactor"] =
        benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void StretchEngine48kPitchPerBlock(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const auto input = voice(channels);
    std::vector<std::vector<float>> out(static_cast<std::size_t>(channels), std::vector<float>(kBlock));
    np::StretchEngine engine;
    engine.configure(channels, 1440, 360);
    for (auto _ : state) {
        std::array<const float*, 2> in{};
        std::array<float*, 2> outputs{};
        for (int c = 0; c < channels; ++c)
            outputs[static_cast<std::size_t>(c)] = out[static_cast<std::size_t>(c)].data();
        engine.seek(nullptr, 0, 1.0);
        for (std::int64_t q = 0; q + kBlock <= kFrames; q += kBlock) {
            for (int c = 0; c < channels; ++c)
                in[static_cast<std::size_t>(c)] = input[static_cast<std::size_t>(c)].data() + q;
            engine.setTransposeFactor(factorOfBlock(q / kBlock));
            engine.process(in.data(), kBlock, outputs.data(), kBlock);
        }
        benchmark::DoNotOptimize(out[0].data());
    }
    reportRealtime(state);
}
BENCHMARK(StretchEngine48kPitchPerBlock)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: a plain short-time Fourier round trip of the same sizes (window, zero-padded forward and
// inverse transform, overlap-add) with no peak analysis and no phase work.
void PlainStftRoundTrip48kBaseline(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const auto input = voice(channels);
    constexpr int kWindow = 1440, kHop = 360, kFft = 4096;
    np::RealFft fft(kFft);
    std::vector<double> frame(kFft), window(kWindow);
    std::vector<std::complex<double>> spectrum(fft.bins());
    std::vector<float> out(static_cast<std::size_t>(kFrames + kWindow));
    for (int i = 0; i < kWindow; ++i)
        window[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / kWindow);
    for (auto _ : state) {
        for (int c = 0; c < channels; ++c) {
            const std::vector<float>& x = input[static_cast<std::size_t>(c)];
            for (std::int64_t t = 0; t + kWindow <= kFrames; t += kHop) {
                std::fill(frame.begin(), frame.end(), 0.0);
                for (int i = 0; i < kWindow; ++i)
                    frame[static_cast<std::size_t>(i)] =
                        x[static_cast<std::size_t>(t + i)] * window[static_cast<std::size_t>(i)];
                fft.forward(frame, spectrum);
                fft.inverse(spectrum, frame);
                for (int i = 0; i < kWindow; ++i)
                    out[static_cast<std::size_t>(t + i)] += static_cast<float>(
                        frame[static_cast<std::size_t>(i)] * window[static_cast<std::size_t>(i)]);
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    reportRealtime(state);
}
BENCHMARK(PlainStftRoundTrip48kBaseline)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The heap one configured engine holds (FFT plans included), at 48 and 384 kHz, mono and stereo.
void StretchEngineHeap(benchmark::State& state) {
    const auto rate = static_cast<double>(state.range(0));
    const int channels = static_cast<int>(state.range(1));
    std::size_t held = 0;
    for (auto _ : state) {
        const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
        np::StretchEngine engine;
        engine.configure(channels, static_cast<int>(std::lround(0.03 * rate)),
                         static_cast<int>(std::lround(0.0075 * rate)));
        held = mallinfo2().uordblks + mallinfo2().hblkhd - before;
        benchmark::DoNotOptimize(&engine);
    }
    state.counters["heapBytes"] = static_cast<double>(held);
}
BENCHMARK(StretchEngineHeap)
    ->Args({48000, 1})
    ->Args({48000, 2})
    ->Args({384000, 1})
    ->Args({384000, 2})
    ->Iterations(1);

#ifdef CV_BENCH_RUBBERBAND
// Reference: the installed library in its real-time mode on the same input, the same blocks and the same
// factor per block.
void RubberBandReference48kPitchPerBlock(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const auto input = voice(channels);
    std::vector<std::vector<float>> out(static_cast<std::size_t>(channels), std::vector<float>(8192));
    using Stretcher = RubberBand::RubberBandStretcher;
    for (auto _ : state) {
        Stretcher stretcher(static_cast<std::size_t>(kRate), static_cast<std::size_t>(channels),
                            Stretcher::OptionProcessRealTime | Stretcher::OptionPitchHighConsistency);
        std::array<const float*, 2> in{};
        std::array<float*, 2> outputs{};
        for (int c = 0; c < channels; ++c)
            outputs[static_cast<std::size_t>(c)] = out[static_cast<std::size_t>(c)].data();
        for (std::int64_t q = 0; q + kBlock <= kFrames; q += kBlock) {
            for (int c = 0; c < channels; ++c)
                in[static_cast<std::size_t>(c)] = input[static_cast<std::size_t>(c)].data() + q;
            stretcher.setPitchScale(factorOfBlock(q / kBlock));
            stretcher.process(in.data(), kBlock, false);
            while (stretcher.available() > 0)
                stretcher.retrieve(outputs.data(), std::min<std::size_t>(8192, static_cast<std::size_t>(
                                                                                   stretcher.available())));
        }
        benchmark::DoNotOptimize(out[0].data());
    }
    reportRealtime(state);
}
BENCHMARK(RubberBandReference48kPitchPerBlock)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

} // namespace
