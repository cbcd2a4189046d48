// Melodic and Percussive analysis of 60 s of a sung-like take at 48 kHz, mono and stereo. Reports
// realtimeFactor (audio seconds per wall second), the peak resident memory growth against the
// analysis's own memory plan, and a baseline: one windowed FFT per hop over the same audio, the
// least any spectral analysis of the take must do.

#include "engine/analysis/analyses.h"
#include "engine/analysis/analysis_plan.h"
#include "engine/audio/real_fft.h"
#include "tools/demo_take.h"

#include <benchmark/benchmark.h>
#include <complex>
#include <fstream>
#include <string>

namespace {

constexpr double kRate = 48000.0;
constexpr double kSeconds = 60.0;

// The demonstration take repeated to 60 s (its notes, slides and consonants throughout).
const np::AudioBuffer& take(int channels) {
    static const auto make = [](int count) {
        const cvdemo::DemoTake demo = cvdemo::makeDemoTake(kRate);
        const auto frames = static_cast<std::int64_t>(kSeconds * kRate);
        np::AudioBuffer audio;
        audio.resize(count, frames);
        for (int c = 0; c < count; ++c)
            for (std::int64_t i = 0; i < frames; ++i)
                audio.channel(c)[static_cast<std::size_t>(i)] =
                    demo.mono[static_cast<std::size_t>(i) % demo.mono.size()] * (c == 0 ? 1.0f : 0.8f);
        return audio;
    };
    static const np::AudioBuffer mono = make(1);
    static const np::AudioBuffer stereo = make(2);
    return channels == 1 ? mono : stereo;
}

// Resident-set figures from /proc/self/status, in bytes.
std::int64_t statusBytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key + ":", 0) == 0)
            return std::stoll(line.substr(key.size() + 1)) * 1024;
    return 0;
}

// Resets the peak resident size to the current one, so that VmHWM afterwards is this run's peak.
void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

template <bool Percussive>
void analysis(benchmark::State& state) {
    const np::AudioBuffer& audio = take(static_cast<int>(state.range(0)));
    const np::AnalysisConfig config;
    const np::AnalysisMemoryPlan plan =
        Percussive ? np::planPercussiveAnalysisMemory(audio.channels, audio.frames, kRate, config)
                   : np::planMelodicAnalysisMemory(audio.channels, audio.frames, kRate, config);
    std::int64_t peakGrowth = 0;
    std::size_t notes = 0;
    for (auto _ : state) {
        resetPeak();
        const std::int64_t before = statusBytes("VmRSS");
        const np::AnalysisResult result = Percussive ? np::analyzePercussive(audio, kRate, config, {})
                                                     : np::analyzeMelodic(audio, kRate, config, {});
        peakGrowth = std::max(peakGrowth, statusBytes("VmHWM") - before);
        notes = result.notes.size();
        benchmark::DoNotOptimize(result);
    }
    state.counters["realtimeFactor"] =
        benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    // The audio itself is already resident, so growth is compared with the plan minus the audio.
    state.counters["peakMiB"] = static_cast<double>(peakGrowth) / 1048576.0;
    state.counters["planMiB"] = static_cast<double>(plan.totalBytes - plan.audioBytes) / 1048576.0;
    state.counters["notes"] = static_cast<double>(notes);
}

void spectralBaseline(benchmark::State& state) {
    const np::AudioBuffer& audio = take(1);
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

BENCHMARK(analysis<false>)->Name("MelodicAnalysis60s")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(analysis<true>)->Name("PercussiveAnalysis60s")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(spectralBaseline)->Name("BaselineFftPerHop60s")->Unit(benchmark::kMillisecond);

} // namespace
