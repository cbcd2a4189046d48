#pragma once

// Hand-built pitch tracks with matching audio, so that segmentation and marking can be tested without
// the pitch tracker, and a helper that stops a stage at each of its checks and counts them.

#include "engine/analysis/analysis_records.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace cvtest {

// A stretch of hops of one kind. hz 0 gives unvoiced frames over a tone still at the previous pitch.
struct Stretch {
    std::int64_t hops = 0;
    double hz = 0.0;
    float amplitude = 0.5f;  // of the sine written into the audio
    double confidence = 0.9; // of the voiced frames
    double endHz = 0.0;      // when above 0, the pitch glides exponentially from hz to endHz
};

struct Take {
    np::PitchTrack track;
    std::vector<float> mono;
};

// One frame per hop (hop 256, frame 2048 at 48 kHz; both scaled with the rate, as the analysis scales
// them, so that a hop lasts as long at any rate); the audio runs one frame past the last hop so that
// every level window is full.
inline Take makeTake(const std::vector<Stretch>& stretches, double sampleRate = 48000.0) {
    Take take;
    take.track.sampleRate = sampleRate;
    take.track.hop = static_cast<std::uint32_t>(std::lround(256.0 * sampleRate / 48000.0));
    take.track.frame = static_cast<std::uint32_t>(std::lround(2048.0 * sampleRate / 48000.0));
    double phase = 0.0;
    double audioHz = 220.0;
    const auto write = [&](std::int64_t samples, float amplitude) {
        for (std::int64_t i = 0; i < samples; ++i) {
            phase += 2.0 * std::numbers::pi * audioHz / take.track.sampleRate;
            take.mono.push_back(amplitude * static_cast<float>(std::sin(phase)));
        }
    };
    for (const Stretch& s : stretches) {
        for (std::int64_t h = 0; h < s.hops; ++h) {
            np::PitchFrame frame;
            if (s.hz > 0.0) {
                const double t = static_cast<double>(h) / static_cast<double>(s.hops);
                audioHz = s.endHz > 0.0 ? s.hz * std::pow(s.endHz / s.hz, t) : s.hz;
                frame = {audioHz, s.confidence, true, 0};
            }
            take.track.frames.push_back(frame);
            write(take.track.hop, s.amplitude);
        }
    }
    write(take.track.frame, stretches.empty() ? 0.0f : stretches.back().amplitude);
    return take;
}

// Runs run(keepGoing) once to count the checks it makes (keepGoing takes any arguments: progress
// fractions or none), then once stopping at each check in turn: no check may follow a stop, and
// check(result, stopAt) sees every stopped result. Returns the number of checks, so that a test holds
// the stage to its cadence: a check removed from a loop changes the count.
template <typename Run, typename Check>
int stopAtEveryCheck(Run run, Check check) {
    int total = 0;
    run([&](auto...) { return ++total > 0; });
    for (int stopAt = 0; stopAt < total; ++stopAt) {
        SCOPED_TRACE(testing::Message() << "stopped at check " << stopAt << " of " << total);
        int asked = 0;
        check(run([&](auto...) { return asked++ != stopAt; }), stopAt);
        EXPECT_EQ(asked, stopAt + 1) << "a check after the stop";
    }
    return total;
}

} // namespace cvtest
