// Audio-thread cost per block of the host-synced player and the capture recorder, against a plain
// memcpy of the same block (two channels). Counters: realtimeFactor (audio seconds per wall second at
// 48 kHz) and vsMemcpy (time per block divided by the memcpy's, measured in the same run).

#include "bench/playback/block_baseline.h"
#include "engine/playback/host_synced_player.h"
#include "engine/playback/transfer_capture.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

using cvbench::Block;
using cvbench::kChannels;
using cvbench::kRate;
using cvbench::memcpyNanosPerBlock;
using cvbench::report;

constexpr std::int64_t kRegionFrames = 480000;

void BM_MemcpyBlock(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Block block(frames);
    for (auto _ : state) {
        for (int c = 0; c < kChannels; ++c)
            std::memcpy(block.outPtr[c], block.inPtr[c], static_cast<std::size_t>(frames) * sizeof(float));
        benchmark::ClobberMemory();
    }
    state.counters["realtimeFactor"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * frames / kRate, benchmark::Counter::kIsRate);
}

// The player substituting a region in the middle of its span: the common case while the host plays.
void BM_PlayerBlock(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Block block(frames);
    const double baseline = memcpyNanosPerBlock(block, frames);
    np::HostSyncedPlayer player;
    auto source = std::make_unique<np::PlaybackSource>();
    source->audio.resize(kChannels, kRegionFrames);
    for (std::size_t i = 0; i < source->audio.samples.size(); ++i)
        source->audio.samples[i] = static_cast<float>(i % 1000) * 0.001f;
    player.setRegion(std::move(source), 0, 1);
    std::int64_t position = 1000;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        player.processBlock(block.inPtr, block.outPtr, kChannels, frames, position, true, 1, false);
        benchmark::ClobberMemory();
        position += frames;
        if (position + frames > kRegionFrames - 1000)
            position = 1000;
    }
    report(state, frames, baseline, std::chrono::steady_clock::now() - start);
}

// The capture recorder appending blocks into a 192 MiB buffer; a full buffer is re-armed outside the
// timing.
void BM_CaptureBlock(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Block block(frames);
    const double baseline = memcpyNanosPerBlock(block, frames);
    np::TransferCapture capture;
    auto rearm = [&capture] {
        capture.prepare(kChannels, kRate, np::TransferCapture::kMaxSeconds);
        capture.arm(0);
    };
    rearm();
    std::int64_t position = 0;
    std::chrono::steady_clock::duration paused{};
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        capture.process(block.inPtr, kChannels, frames, true, position);
        position += frames;
        if (capture.state() == np::TransferCapture::State::Done) {
            const auto pauseStart = std::chrono::steady_clock::now();
            state.PauseTiming();
            rearm();
            position = 0;
            state.ResumeTiming();
            paused += std::chrono::steady_clock::now() - pauseStart;
        }
    }
    report(state, frames, baseline, std::chrono::steady_clock::now() - start - paused);
}

BENCHMARK(BM_MemcpyBlock)->Arg(64)->Arg(512)->Arg(4096);
BENCHMARK(BM_PlayerBlock)->Arg(64)->Arg(512)->Arg(4096);
BENCHMARK(BM_CaptureBlock)->Arg(64)->Arg(512)->Arg(4096);

} // namespace
