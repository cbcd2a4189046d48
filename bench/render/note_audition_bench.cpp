// The note audition's latency: from the freeze of a 0.35 s excerpt of the demonstration take (the
// middle of its first note) to a 2.5 s steady tone at the same rate, at 48 and 384 kHz, on one core (the
// pitch tracker's helper threads are turned off). Counters: freezeMs and synthMs (each step's share),
// and vsFftPerFrame: the whole against one real FFT of the vocoder's size per 5 ms frame of the tone,
// measured in the same run.

#include "engine/analysis/analysis_threads.h"
#include "engine/audio/real_fft.h"
#include "engine/render/note_audition.h"
#include "engine/render/vocoder/vocoder_frames.h"
#include "tools/demo_take.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <complex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds of one real FFT of the vocoder's size for every 5 ms frame of `seconds` at rate.
double fftPerFrameMillis(int rate, double seconds) {
    const auto size = static_cast<std::size_t>(np::vocoder::fftSizeForRate(rate));
    np::RealFft fft(size);
    std::vector<double> frame(size, 0.25);
    std::vector<std::complex<double>> spectrum(fft.bins());
    const int frames = static_cast<int>(seconds * 200.0);
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        fft.forward(frame, spectrum);
        benchmark::DoNotOptimize(spectrum.data());
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_AuditionFreezeAndSynth(benchmark::State& state) {
    np::setAnalysisThreadCount(1);
    const int rate = static_cast<int>(state.range(0));
    const cvdemo::DemoTake take = cvdemo::makeDemoTake(rate);
    const cvdemo::DemoNote& note = take.notes.front();
    const auto centre = static_cast<std::size_t>((note.startSeconds + 0.3) * rate);
    const auto half = static_cast<std::size_t>(0.175 * rate);
    const std::vector<float> excerpt(take.mono.begin() + static_cast<std::ptrdiff_t>(centre - half),
                                     take.mono.begin() + static_cast<std::ptrdiff_t>(centre + half));
    const np::AuditionTone tone{440.0 * std::exp2((note.midi + 3.0 - 69.0) / 12.0),
                                static_cast<std::int64_t>(2.5 * rate), static_cast<double>(rate), 1.0};
    double freezeMs = 0.0, synthMs = 0.0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const np::FrozenNote frozen = np::freezeNoteExcerpt(excerpt, rate);
        const auto frozenAt = Clock::now();
        const np::AudioBuffer out = np::synthesizeAudition(frozen, tone, {});
        benchmark::DoNotOptimize(out.samples.data());
        freezeMs += std::chrono::duration<double, std::milli>(frozenAt - start).count();
        synthMs += std::chrono::duration<double, std::milli>(Clock::now() - frozenAt).count();
        if (!frozen.ready)
            state.SkipWithError("the excerpt was not frozen");
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["freezeMs"] = freezeMs / iterations;
    state.counters["synthMs"] = synthMs / iterations;
    state.counters["vsFftPerFrame"] = (freezeMs + synthMs) / iterations / fftPerFrameMillis(rate, 2.5);
}
BENCHMARK(BM_AuditionFreezeAndSynth)->Arg(48000)->Arg(384000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
