// Audio-thread cost per 512-frame block of the audition voice, against a plain memcpy of the same block
// (two channels): looping a 2.5 s buffer while sounding, and cross-fading to a new buffer in every
// block (the hand-over itself, on the main thread, is outside the timing).

#include "bench/playback/block_baseline.h"
#include "engine/playback/audition_voice.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>

namespace {

using cvbench::Block;
using cvbench::kRate;

constexpr std::int64_t kBufferFrames = 120000; // 2.5 s at 48 kHz, as the audition worker makes it

std::unique_ptr<np::AudioBuffer> toneBuffer(float scale) {
    auto buffer = std::make_unique<np::AudioBuffer>();
    buffer->resize(1, kBufferFrames);
    for (std::size_t i = 0; i < buffer->samples.size(); ++i)
        buffer->samples[i] = scale * static_cast<float>(i % 218) / 218.0f;
    return buffer;
}

// A voice that has faded in and sounds from the middle of its loop.
void warmUp(np::AuditionVoice& voice, Block& block, int frames) {
    voice.prepare(kRate);
    voice.setSource(toneBuffer(0.5f));
    for (int i = 0; i < 4; ++i)
        voice.processReplace(block.outPtr, cvbench::kChannels, frames);
}

void BM_AuditionVoiceBlock(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Block block(frames);
    const double baseline = cvbench::memcpyNanosPerBlock(block, frames);
    np::AuditionVoice voice;
    warmUp(voice, block, frames);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        voice.processReplace(block.outPtr, cvbench::kChannels, frames);
        benchmark::ClobberMemory();
    }
    cvbench::report(state, frames, baseline, std::chrono::steady_clock::now() - start);
}

void BM_AuditionVoiceCrossfadeBlock(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Block block(frames);
    const double baseline = cvbench::memcpyNanosPerBlock(block, frames);
    np::AuditionVoice voice;
    warmUp(voice, block, frames);
    std::chrono::steady_clock::duration timed{};
    for (auto _ : state) {
        state.PauseTiming();
        voice.drainRetired();
        voice.setSource(toneBuffer(0.25f));
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        voice.processReplace(block.outPtr, cvbench::kChannels, frames);
        benchmark::ClobberMemory();
        timed += std::chrono::steady_clock::now() - start;
    }
    cvbench::report(state, frames, baseline, timed);
}

BENCHMARK(BM_AuditionVoiceBlock)->Arg(512);
BENCHMARK(BM_AuditionVoiceCrossfadeBlock)->Arg(512);

} // namespace
