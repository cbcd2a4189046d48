// The Melodic analysis of a 2-minute sung-like take at 48 kHz on one thread and on the default
// count (hardware threads less one), the Percussive analysis of the same take, and a baseline: one
// windowed FFT per hop over the same audio, the least any spectral analysis of the take must do.
//
// Each reports realtimeFactor (audio seconds per wall second), and the Melodic ones the peak heap the
// analysis took (peakHeapMiB, every allocation counted, FFTW's included) beside its memory plan less
// the audio, which is already resident (planMiB); MelodicHeapAgainstPlan does so for shorter takes,
// where the fixed terms of the plan weigh most.

#include "engine/analysis/analyses.h"
#include "engine/analysis/analysis_plan.h"
#include "engine/analysis/analysis_threads.h"
#include "engine/audio/real_fft.h"
#include "tools/demo_take.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <complex>
#include <cstdint>
#include <malloc.h>

// A heap meter: every allocation of the process goes through these replacements of the C allocator
// (operator new and FFTW allocate through them), which keep the live and the peak byte count.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {

std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};

void* counted(void* p) {
    if (p != nullptr) {
        const auto size = static_cast<std::int64_t>(malloc_usable_size(p));
        const std::int64_t live = liveBytes.fetch_add(size, std::memory_order_relaxed) + size;
        std::int64_t peak = peakBytes.load(std::memory_order_relaxed);
        while (live > peak && !peakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
        }
    }
    return p;
}

void uncount(void* p) {
    if (p != nullptr)
        liveBytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
}

} // namespace

extern "C" {
void* malloc(std::size_t size) {
    return counted(__libc_malloc(size));
}
void* calloc(std::size_t count, std::size_t size) {
    return counted(__libc_calloc(count, size));
}
void* realloc(void* p, std::size_t size) {
    uncount(p);
    void* q = __libc_realloc(p, size);
    if (q == nullptr && size != 0)
        counted(p); // the old block stays
    return counted(q);
}
void free(void* p) {
    uncount(p);
    __libc_free(p);
}
void* memalign(std::size_t alignment, std::size_t size) {
    return counted(__libc_memalign(alignment, size));
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    return counted(__libc_memalign(alignment, size));
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    void* p = counted(__libc_memalign(alignment, size));
    if (p == nullptr)
        return ENOMEM;
    *out = p;
    return 0;
}
}

namespace {

constexpr double kRate = 48000.0;
constexpr double kSeconds = 120.0;

// The demonstration take repeated to the given length (its notes, slides and consonants throughout).
np::AudioBuffer take(int channels, double seconds) {
    static const cvdemo::DemoTake demo = cvdemo::makeDemoTake(kRate);
    const auto frames = static_cast<std::int64_t>(seconds * kRate);
    np::AudioBuffer audio;
    audio.resize(channels, frames);
    for (int c = 0; c < channels; ++c)
        for (std::int64_t i = 0; i < frames; ++i)
            audio.channel(c)[static_cast<std::size_t>(i)] =
                demo.mono[static_cast<std::size_t>(i) % demo.mono.size()] * (c == 0 ? 1.0f : 0.8f);
    return audio;
}

const np::AudioBuffer& twoMinutes() {
    static const np::AudioBuffer audio = take(1, kSeconds);
    return audio;
}

// Runs the Melodic analysis of audio with threads threads, reporting its speed and peak heap.
void melodic(benchmark::State& state, const np::AudioBuffer& audio, int threads) {
    np::setAnalysisThreadCount(threads);
    const np::AnalysisConfig config;
    const np::AnalysisMemoryPlan plan =
        np::planMelodicAnalysisMemory(audio.channels, audio.frames, kRate, config);
    std::int64_t peak = 0;
    std::size_t notes = 0;
    for (auto _ : state) {
        const std::int64_t before = liveBytes.load();
        peakBytes.store(before);
        const np::AnalysisResult result = np::analyzeMelodic(audio, kRate, config, {});
        peak = std::max(peak, peakBytes.load() - before);
        notes = result.notes.size();
        benchmark::DoNotOptimize(result);
    }
    np::setAnalysisThreadCount(0);
    const double seconds = static_cast<double>(audio.frames) / kRate;
    state.counters["realtimeFactor"] =
        benchmark::Counter(seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["threads"] = threads;
    state.counters["peakHeapMiB"] = static_cast<double>(peak) / 1048576.0;
    state.counters["planMiB"] = static_cast<double>(plan.totalBytes - plan.audioBytes) / 1048576.0;
    state.counters["notes"] = static_cast<double>(notes);
}

// range(0): threads, 0 for the default count.
void MelodicAnalysis120s(benchmark::State& state) {
    const int threads = state.range(0) > 0 ? static_cast<int>(state.range(0)) : np::analysisThreadCount();
    melodic(state, twoMinutes(), threads);
}
BENCHMARK(MelodicAnalysis120s)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// range(0): seconds of audio, analysed on the default thread count.
void MelodicHeapAgainstPlan(benchmark::State& state) {
    const np::AudioBuffer audio = take(1, static_cast<double>(state.range(0)));
    melodic(state, audio, np::analysisThreadCount());
}
BENCHMARK(MelodicHeapAgainstPlan)->Arg(1)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond)->UseRealTime();

void PercussiveAnalysis120s(benchmark::State& state) {
    const np::AudioBuffer audio = take(static_cast<int>(state.range(0)), kSeconds);
    const np::AnalysisConfig config;
    for (auto _ : state)
        benchmark::DoNotOptimize(np::analyzePercussive(audio, kRate, config, {}));
    state.counters["realtimeFactor"] =
        benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(PercussiveAnalysis120s)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BaselineFftPerHop120s(benchmark::State& state) {
    const np::AudioBuffer& audio = twoMinutes();
    constexpr std::size_t kFrame = 1024;
    constexpr std::size_t kHop = 256;
    np::RealFft fft(kFrame);
    std::vector<double> input(kFrame);
    std::vector<std::complex<double>> spectrum(fft.bins());
    const std::span<const float> mono = audio.channel(0);
    for (auto _ : state) {
        double sum = 0.0;
        for (std::size_t start = 0; start + kFrame <= mono.size(); start += kHop) {
            for (std::size_t i = 0; i < kFrame; ++i)
                input[i] = mono[start + i];
            fft.forward(input, spectrum);
            sum += std::abs(spectrum[8]);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["realtimeFactor"] =
        benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BaselineFftPerHop120s)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
