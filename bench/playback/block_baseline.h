#pragma once

// Shared by the playback benchmarks: a two-channel block of host audio and the memcpy of it that every
// audio-thread cost is compared with in the same run.

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <vector>

namespace cvbench {

inline constexpr int kChannels = 2;
inline constexpr double kRate = 48000.0;

struct Block {
    explicit Block(int frames) {
        for (int c = 0; c < kChannels; ++c) {
            in[c].assign(static_cast<std::size_t>(frames), 0.0f);
            out[c].assign(static_cast<std::size_t>(frames), 0.0f);
            for (int i = 0; i < frames; ++i)
                in[c][static_cast<std::size_t>(i)] = static_cast<float>((i * 37 + c) % 200) * 0.005f - 0.5f;
            inPtr[c] = in[c].data();
            outPtr[c] = out[c].data();
        }
    }
    std::vector<float> in[kChannels];
    std::vector<float> out[kChannels];
    const float* inPtr[kChannels];
    float* outPtr[kChannels];
};

// Nanoseconds per memcpy of one block, the baseline every ratio uses.
inline double memcpyNanosPerBlock(Block& block, int frames) {
    constexpr int kReps = 20000;
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < kReps; ++r) {
        for (int c = 0; c < kChannels; ++c)
            std::memcpy(block.outPtr[c], block.inPtr[c], static_cast<std::size_t>(frames) * sizeof(float));
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / kReps;
}

// Counters: realtimeFactor (audio seconds per wall second at 48 kHz) and vsMemcpy (time per block over
// the memcpy's).
inline void report(benchmark::State& state, int frames, double baselineNanos,
                   std::chrono::steady_clock::duration elapsed) {
    const auto blocks = static_cast<double>(state.iterations());
    state.counters["realtimeFactor"] =
        benchmark::Counter(blocks * frames / kRate, benchmark::Counter::kIsRate);
    const double nanosPerBlock = std::chrono::duration<double, std::nano>(elapsed).count() / blocks;
    state.counters["vsMemcpy"] = nanosPerBlock / baselineNanos;
}

} // namespace cvbench
