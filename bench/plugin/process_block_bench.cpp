// The plug-in's audio callback per host block while it records a capture, plays a region that
// cross-fades to a new one every few blocks, auditions a note over it and follows Volume automation, against
// a plain memcpy of the same block (two channels of doubles). Counters: realtimeFactor (audio seconds per
// wall second at 48 kHz) and vsMemcpy (time per block divided by the memcpy's, measured in the same run).

#include "framework/host_entry.h"
#include "tests/plugin/corvalinth_probe.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kChannels = 2;
constexpr double kRate = 48000.0;
constexpr std::int64_t kRegionFrames = 480000;
constexpr int kBlocksPerRegion = 8; // a new region, and so a cross-fade, every 8 blocks

struct Block {
    explicit Block(int frames) {
        for (int c = 0; c < kChannels; ++c) {
            in[c].assign(static_cast<std::size_t>(frames), 0.0);
            out[c].assign(static_cast<std::size_t>(frames), 0.0);
            for (int i = 0; i < frames; ++i)
                in[c][static_cast<std::size_t>(i)] = static_cast<double>((i * 37 + c) % 200) * 0.005 - 0.5;
            inPtr[c] = in[c].data();
            outPtr[c] = out[c].data();
        }
    }
    std::vector<double> in[kChannels];
    std::vector<double> out[kChannels];
    double* inPtr[kChannels];
    double* outPtr[kChannels];
};

double memcpyNanosPerBlock(Block& block, int frames) {
    constexpr int kReps = 20000;
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < kReps; ++r) {
        for (int c = 0; c < kChannels; ++c)
            std::memcpy(block.outPtr[c], block.inPtr[c], static_cast<std::size_t>(frames) * sizeof(double));
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / kReps;
}

std::shared_ptr<const np::AudioBuffer> regionAudio(float scale) {
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(kChannels, kRegionFrames);
    for (std::size_t i = 0; i < audio->samples.size(); ++i)
        audio->samples[i] = static_cast<float>(i % 1000) * 0.001f * scale;
    return audio;
}

void BM_MemcpyBlock(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Block block(frames);
    for (auto _ : state) {
        for (int c = 0; c < kChannels; ++c)
            std::memcpy(block.outPtr[c], block.inPtr[c], static_cast<std::size_t>(frames) * sizeof(double));
        benchmark::ClobberMemory();
    }
    state.counters["realtimeFactor"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * frames / kRate, benchmark::Counter::kIsRate);
}

void BM_ProcessBlock(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Block block(frames);
    const double baseline = memcpyNanosPerBlock(block, frames);

    const auto prefsFolder =
        std::filesystem::temp_directory_path() / ("cv-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(prefsFolder);
    cv::Prefs prefs(prefsFolder);
    Corvalinth::Services services;
    services.prefs = &prefs;
    services.update = cv::UpdateFetch{};
    Corvalinth plugin(iplug::InstanceInfo{}, std::move(services));
    iplug::HostEntry::SetAudioConfig(plugin, kRate, frames, kChannels, kChannels);
    plugin.OnReset();
    plugin.OnIdle(); // prepares the recorder
    np::TransferCapture& capture = CorvalinthProbe::capture(plugin);
    const auto rearm = [&] {
        capture.takeCapture();
        capture.arm(np::TransferCapture::kWorkingSetBytes - (64u << 20));
    };
    rearm();
    const std::shared_ptr<const np::AudioBuffer> regions[2] = {regionAudio(1.0f), regionAudio(0.5f)};
    auto tone = std::make_unique<np::AudioBuffer>();
    tone->resize(1, 120000); // 2.5 s: the voice loops its middle
    for (std::size_t i = 0; i < tone->samples.size(); ++i)
        tone->samples[i] = static_cast<float>(i % 200) * 0.001f;
    CorvalinthProbe::voice(plugin).setSource(std::move(tone));
    std::int64_t position = 1000;
    std::int64_t blocks = 0;
    std::chrono::steady_clock::duration paused{};
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (blocks % kBlocksPerRegion == 0 || capture.state() == np::TransferCapture::State::Done) {
            const auto pauseStart = std::chrono::steady_clock::now();
            state.PauseTiming();
            auto source = std::make_unique<np::PlaybackSource>();
            source->shared = regions[(blocks / kBlocksPerRegion) % 2];
            CorvalinthProbe::player(plugin).setRegion(std::move(source), 0, plugin.PlaybackGeneration());
            plugin.OnIdle(); // frees the retired regions
            if (capture.state() == np::TransferCapture::State::Done) {
                rearm();
                position = 1000; // a jump would end the next capture at once
            }
            state.ResumeTiming();
            paused += std::chrono::steady_clock::now() - pauseStart;
        }
        iplug::HostEntry::SetParameterFromHost(plugin, cv::kParamVolume, blocks % 2 == 0 ? 80.0 : 90.0,
                                               frames / 2);
        iplug::HostEntry::SetProcessInfo(plugin, iplug::ITimeInfo{static_cast<double>(position), true},
                                         false);
        plugin.ProcessBlock(block.inPtr, block.outPtr, frames);
        benchmark::ClobberMemory();
        position += frames;
        if (position + frames > kRegionFrames - 1000)
            position = 1000;
        ++blocks;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start - paused;
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["realtimeFactor"] =
        benchmark::Counter(iterations * frames / kRate, benchmark::Counter::kIsRate);
    state.counters["vsMemcpy"] =
        std::chrono::duration<double, std::nano>(elapsed).count() / iterations / baseline;
    std::filesystem::remove_all(prefsFolder);
}

BENCHMARK(BM_MemcpyBlock)->Arg(64)->Arg(512)->Arg(4096);
BENCHMARK(BM_ProcessBlock)->Arg(64)->Arg(512)->Arg(4096);

} // namespace
