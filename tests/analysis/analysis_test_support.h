#pragma once

// Hand-built pitch tracks with matching audio, so that segmentation and marking can be tested without
// the pitch tracker.

#include "engine/analysis/analysis_records.h"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace cvtest {

// A stretch of hops of one kind: hz 0 means unvoiced (the audio is still a tone at lastHz, or
// silence when the stretch is the first one).
struct Stretch {
    std::int64_t hops = 0;
    double hz = 0.0;         // per-hop pitch of the track; 0: unvoiced frames
    float amplitude = 0.5f;  // of the sine written into the audio
    double confidence = 0.9; // of the voiced frames
    double endHz = 0.0;      // when above 0, the pitch glides exponentially from hz to endHz
};

struct Take {
    np::PitchTrack track;
    std::vector<float> mono;
};

// One frame per hop (hop 256, frame 2048, 48 kHz); the audio runs one frame past the last hop so that
// every level window is full.
inline Take makeTake(const std::vector<Stretch>& stretches) {
    Take take;
    const std::int64_t hop = take.track.hop;
    double phase = 0.0;
    double audioHz = 220.0;
    for (const Stretch& s : stretches) {
        for (std::int64_t h = 0; h < s.hops; ++h) {
            double hz = s.hz;
            if (s.hz > 0.0 && s.endHz > 0.0)
                hz = s.hz * std::pow(s.endHz / s.hz, static_cast<double>(h) / static_cast<double>(s.hops));
            np::PitchFrame frame;
            if (hz > 0.0) {
                frame.hz = hz;
                frame.confidence = s.confidence;
                frame.voiced = true;
                audioHz = hz;
            }
            take.track.frames.push_back(frame);
            for (std::int64_t i = 0; i < hop; ++i) {
                phase += 2.0 * std::numbers::pi * audioHz / take.track.sampleRate;
                take.mono.push_back(s.amplitude * static_cast<float>(std::sin(phase)));
            }
        }
    }
    for (std::uint32_t i = 0; i < take.track.frame; ++i) {
        phase += 2.0 * std::numbers::pi * audioHz / take.track.sampleRate;
        take.mono.push_back(
            stretches.empty() ? 0.0f : stretches.back().amplitude * static_cast<float>(std::sin(phase)));
    }
    return take;
}

inline double midiOf(double hz) {
    return 69.0 + 12.0 * std::log2(hz / 440.0);
}

} // namespace cvtest
