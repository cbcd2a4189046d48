// The vocoder on the demonstration take at 48 kHz, on one core (the pitch tracker's helper threads
// are turned off): analysis and synthesis of 10 s of mono audio, with the peak heap against the
// render plan's vocoder term, and the audition's freeze of a 0.35 s excerpt followed by a 2.5 s
// synthesis. Baseline: one real FFT of the vocoder's size per 5 ms frame, the
// least any analysis on this frame grid must do.

#include "engine/analysis/analysis_threads.h"
#include "engine/audio/real_fft.h"
#include "engine/render/render_plan.h"
#include "engine/render/vocoder/aperiodicity.h"
#include "engine/render/vocoder/f0_estimation.h"
#include "engine/render/vocoder/spectral_envelope.h"
#include "engine/render/vocoder/synthesis.h"
#include "tools/demo_take.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <malloc.h>
#include <new>

// Heap accounting for this program: operator new and delete keep the bytes in use and their peak.
// (FFTW's own aligned buffers, a few FFT sizes per transform object, are not counted.)
namespace {
std::atomic<std::int64_t> gInUse{0};
std::atomic<std::int64_t> gPeak{0};

void* countedAllocate(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        throw std::bad_alloc();
    const auto now = gInUse.fetch_add(static_cast<std::int64_t>(malloc_usable_size(p))) +
                     static_cast<std::int64_t>(malloc_usable_size(p));
    std::int64_t peak = gPeak.load();
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void countedFree(void* p) noexcept {
    if (p == nullptr)
        return;
    gInUse.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)));
    std::free(p);
}
} // namespace

void* operator new(std::size_t size) {
    return countedAllocate(size);
}
void* operator new[](std::size_t size) {
    return countedAllocate(size);
}
void operator delete(void* p) noexcept {
    countedFree(p);
}
void operator delete[](void* p) noexcept {
    countedFree(p);
}
void operator delete(void* p, std::size_t) noexcept {
    countedFree(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    countedFree(p);
}

namespace {

using namespace np::vocoder;

constexpr int kRate = 48000;

// The demonstration take repeated to the wanted length, in double precision.
std::vector<double> take(double seconds) {
    static const cvdemo::DemoTake demo = cvdemo::makeDemoTake(kRate);
    std::vector<double> x(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = demo.mono[i % demo.mono.size()];
    return x;
}

std::vector<const double*> framePointers(const FrameSpectra& spectra) {
    std::vector<const double*> pointers;
    for (int i = 0; i < spectra.frames; ++i)
        pointers.push_back(spectra.frame(i).data());
    return pointers;
}

// The render plan's working bytes for a vocoder analysis and resynthesis of n mono samples, less the
// float output buffer it counts (the benchmark keeps the double result instead).
double planVocoderBytes(std::int64_t n) {
    const np::RenderWorkingSetPlan plan = np::planWorldRenderWorkingSet(1, n, n, n, n, kRate, false);
    return static_cast<double>(plan.workBytes - plan.unitBytes);
}

void VocoderAnalysisAndSynthesisTenSeconds(benchmark::State& state) {
    np::setAnalysisThreadCount(1);
    const std::vector<double> x = take(10.0);
    const auto length = static_cast<std::int64_t>(x.size());
    std::int64_t peak = 0;
    for (auto _ : state) {
        const std::int64_t before = gInUse.load();
        gPeak.store(before);
        const std::vector<double> f0 = estimateF0(x, kRate);
        const FrameSpectra envelope = estimateSpectralEnvelope(x, kRate, f0);
        const FrameSpectra aperiodicity = estimateAperiodicity(x, kRate, f0);
        const std::vector<const double*> envelopes = framePointers(envelope);
        const std::vector<const double*> aperiodicities = framePointers(aperiodicity);
        const std::vector<double> y =
            synthesize({f0, envelopes, aperiodicities, envelope.fftSize}, kRate, length);
        benchmark::DoNotOptimize(y.data());
        peak = std::max(peak, gPeak.load() - before);
    }
    state.counters["realtimeFactor"] =
        benchmark::Counter(10.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["peakHeapMiB"] = static_cast<double>(peak) / 1048576.0;
    state.counters["planMiB"] = planVocoderBytes(length) / 1048576.0;
}
BENCHMARK(VocoderAnalysisAndSynthesisTenSeconds)->Unit(benchmark::kMillisecond)->UseRealTime();

// The audition: freeze one voiced frame of a 0.35 s excerpt, then synthesise 2.5 s of a steady tone
// from it with a slight wobble.
void VocoderFreezeAndSynthesis(benchmark::State& state) {
    np::setAnalysisThreadCount(1);
    const std::vector<double> excerpt = [] {
        const std::vector<double> x = take(2.0);
        return std::vector<double>(x.begin() + kRate, x.begin() + kRate + kRate * 35 / 100);
    }();
    const auto length = static_cast<std::int64_t>(2.5 * kRate);
    for (auto _ : state) {
        const std::vector<double> f0 = estimateF0(excerpt, kRate);
        const FrameSpectra envelope = estimateSpectralEnvelope(excerpt, kRate, f0);
        const FrameSpectra aperiodicity = estimateAperiodicity(excerpt, kRate, f0);
        const int frame = envelope.frames / 2;
        const auto frames = static_cast<std::size_t>(std::ceil(length / (0.005 * kRate))) + 2;
        std::vector<double> wobble(frames);
        for (std::size_t j = 0; j < frames; ++j) {
            const double t = static_cast<double>(j) * 0.005;
            wobble[j] =
                330.0 * (1.0 + 0.002 * (std::sin(2.0 * M_PI * 12.7 * t) + std::sin(2.0 * M_PI * 7.1 * t) +
                                        std::sin(2.0 * M_PI * 4.7 * t)));
        }
        const std::vector<const double*> envelopes(frames, envelope.frame(frame).data());
        const std::vector<const double*> aperiodicities(frames, aperiodicity.frame(frame).data());
        const std::vector<double> y =
            synthesize({wobble, envelopes, aperiodicities, envelope.fftSize}, kRate, length);
        benchmark::DoNotOptimize(y.data());
    }
}
BENCHMARK(VocoderFreezeAndSynthesis)->Unit(benchmark::kMillisecond)->UseRealTime();

void FftPerFrameBaseline(benchmark::State& state) {
    const std::vector<double> x = take(10.0);
    const auto size = static_cast<std::size_t>(fftSizeForRate(kRate));
    np::RealFft fft(size);
    std::vector<double> frame(size);
    std::vector<std::complex<double>> spectrum(fft.bins());
    for (auto _ : state) {
        for (std::size_t start = 0; start + size <= x.size(); start += kRate / 200) {
            std::copy_n(x.begin() + static_cast<std::ptrdiff_t>(start), size, frame.begin());
            fft.forward(frame, spectrum);
            benchmark::DoNotOptimize(spectrum.data());
        }
    }
    state.counters["realtimeFactor"] =
        benchmark::Counter(10.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(FftPerFrameBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
