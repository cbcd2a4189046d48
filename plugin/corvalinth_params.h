#pragma once

// The plug-in's fixed description for the framework and its six parameters: indices, names, ranges and
// the value mappings the rest of the shell uses (Volume to a linear gain, A4 index to Hz).

#include "framework/config.h"
#include "framework/editor_delegate.h"

#include <array>
#include <cstdint>

namespace cv {

// Parameter indices; fixed, the host stores automation and state by them.
enum ParamIdx : int {
    kParamVolume = 0,    // 0..100 %, the only automatable one
    kParamKey = 1,       // 12 notes, C..B
    kParamScale = 2,     // "Chromatic", "Major", "Minor"
    kParamAlgorithm = 3, // "Melodic", "Percussive"
    kParamTempo = 4,     // 20..300 bpm
    kParamA4 = 5,        // index into kA4ChoicesHz
    kNumParams = 6,
};

// The eight A4 references the A4 parameter chooses from, in Hz.
inline constexpr std::array<double, 8> kA4ChoicesHz{415.0, 432.0, 435.0, 440.0, 441.0, 442.0, 443.0, 444.0};
inline constexpr int kA4DefaultIdx = 3; // 440 Hz

// The framework configuration: 6 parameters, 1 preset, "1-1 2-2", "Cvth" by "Vnkq", version 1.0.0, no
// latency, no MIDI, an editor of 1280 x 816 (896 x 571 .. 1920 x 1224) the host may resize.
iplug::Config makeCorvalinthConfig();

// Declares the six parameters in index order on a delegate made with kNumParams parameters.
void declareCorvalinthParameters(iplug::IEditorDelegate& delegate);

// Volume in percent to a linear gain: Volume / 100 clamped to 0..1; a value that is not finite gives 0.
// Realtime: wait-free.
float gainFromVolume(double volumePercent) noexcept;

// The A4 reference of an index, clamped to 0..7.
double a4HzFromIndex(int index) noexcept;

} // namespace cv
