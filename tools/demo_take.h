#pragma once

// A demonstration take for the command-line front end: a short sung-like melody (a harmonic voice
// with delayed vibrato, two legato slides and a few consonant noise bursts) whose notes are known, so
// that the analysis can be checked against them.

#include <cstdint>
#include <vector>

namespace cvdemo {

struct DemoNote {
    double startSeconds = 0.0; // where the note's voiced sound (or its slide into it) begins
    double midi = 60.0;        // the note's target pitch
};

struct DemoTake {
    double sampleRate = 48000.0;
    std::vector<float> mono;
    std::vector<DemoNote> notes;
};

DemoTake makeDemoTake(double sampleRate = 48000.0);

} // namespace cvdemo
