// Memory of an offline bounce through the stand-in host, as the `host` command runs it: the peak heap
// the bouncing thread holds (the lock-step host plays every block on it) against the take's decoded size
// (frames x channels x 4 bytes). The bounce the command keeps, coded as it plays into the 16-bit WAV
// data it writes for a 16-bit take (room taken once, handed over as it is), against the float bounce
// kept before it, and that against the double planes grown block by block and then copied to float while
// they are alive, each measured in the same run as its baseline. The plug-in is a unity gain, so the
// bounce is the input. Counters: peakVsDecoded (peak heap / decoded bytes), vsDoublePlanes and vsFloat
// (the peak over its baseline's); realtimeFactor (audio seconds per wall second) for reference.

#include "engine/io/wav_data.h"
#include "host/cli_bounce.h"
#include "host/cli_render.h"
#include "host/standin/standin_host.h"
#include "host/standin/transport.h"
#include "tests/host/standin/test_gain_plugin.h"
#include "tests/support/alloc_counter.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <sndfile.h>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr int kBlockFrames = 512;

// range(0) seconds of take, in whole blocks.
cv::standin::TransportScript timeline(const benchmark::State& state) {
    return cv::standin::contiguous(0, kBlockFrames, static_cast<int>(state.range(0) * kRate / kBlockFrames));
}

std::unique_ptr<cv::standin::StandinHost> monoHost() {
    auto host = std::make_unique<cv::standin::StandinHost>(std::make_unique<cvtest::TestGainPlugin>());
    host->configure({kRate, kBlockFrames, 1, 1});
    return host;
}

// The baseline: double planes recorded block by block, then a float copy made while they are alive.
std::uint64_t doublePlanesPeakBytes(cv::standin::StandinHost& host,
                                    const cv::standin::TransportScript& script) {
    cvtest::ScopedAllocationCounter counter;
    {
        host.setRecording(true);
        host.bounce(script);
        std::vector<std::vector<double>> planes = host.takeRecording();
        host.setRecording(false);
        std::vector<float> out(planes[0].size());
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<float>(planes[0][i]);
        benchmark::DoNotOptimize(out.data());
    }
    return counter.peakBytes();
}

std::uint64_t floatBouncePeakBytes(cv::standin::StandinHost& host,
                                   const cv::standin::TransportScript& script) {
    cvtest::ScopedAllocationCounter counter;
    {
        const cv::standin::FloatRecording bounced = host.bounceToFloat(script);
        benchmark::DoNotOptimize(bounced.samples.data());
    }
    return counter.peakBytes();
}

std::uint64_t wavDataBouncePeakBytes(cv::standin::StandinHost& host,
                                     const cv::standin::TransportScript& script) {
    cvtest::ScopedAllocationCounter counter;
    {
        const np::WavData bounced = cv::cli::bounceToWavData(
            host, script, 1, np::WavBitDepth::Pcm16, cv::cli::writerScale(SF_FORMAT_WAV | SF_FORMAT_PCM_16));
        benchmark::DoNotOptimize(bounced.bytes().data());
    }
    return counter.peakBytes();
}

using PeakBytes = std::uint64_t (*)(cv::standin::StandinHost&, const cv::standin::TransportScript&);

// range(0) seconds of mono 48 kHz take bounced the way peakOf bounces it, against baselineOf measured
// once in the same run (counter baselineName).
void measure(benchmark::State& state, PeakBytes peakOf, PeakBytes baselineOf, const char* baselineName) {
    const auto script = timeline(state);
    const auto frames = static_cast<std::int64_t>(script.size()) * kBlockFrames;
    const auto host = monoHost();
    const auto baseline = static_cast<double>(baselineOf(*host, script));
    double peak = 0.0;
    for (auto _ : state)
        peak = static_cast<double>(peakOf(*host, script));
    state.counters["peakVsDecoded"] = peak / (static_cast<double>(frames) * 4.0);
    state.counters[baselineName] = peak / baseline;
    state.counters["realtimeFactor"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(frames) / kRate,
                           benchmark::Counter::kIsRate);
}

void BM_StandinBounceDoublePlanes(benchmark::State& state) {
    measure(state, doublePlanesPeakBytes, doublePlanesPeakBytes, "vsDoublePlanes");
}

void BM_StandinBounceToFloat(benchmark::State& state) {
    measure(state, floatBouncePeakBytes, doublePlanesPeakBytes, "vsDoublePlanes");
}

void BM_StandinBounceToWavData(benchmark::State& state) {
    measure(state, wavDataBouncePeakBytes, floatBouncePeakBytes, "vsFloat");
}

} // namespace

BENCHMARK(BM_StandinBounceDoublePlanes)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StandinBounceToFloat)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StandinBounceToWavData)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);
