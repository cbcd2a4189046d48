#include "ui/canvas_gesture.h"

#include <algorithm>
#include <cmath>

namespace cv::ui {

bool InsideDeadZone(float dx, float dy) {
    return std::abs(dx) < kDeadZone && std::abs(dy) < kDeadZone;
}

GestureMode ModeForFirstDrag(Tool tool, float dx, float dy) {
    switch (tool) {
    case Tool::Main:
        return std::abs(dx) > std::abs(dy) ? GestureMode::Time : GestureMode::Pitch;
    case Tool::Pitch:
        return GestureMode::Pitch;
    case Tool::Formant:
        return GestureMode::Formant;
    case Tool::Amp:
        return GestureMode::Gain;
    case Tool::Time:
        return GestureMode::Time;
    case Tool::Mod:
        return GestureMode::Drift;
    }
    return GestureMode::Pressed;
}

double PitchDragTarget(double accumulatedSemitones, bool fine) {
    return fine ? accumulatedSemitones : std::round(accumulatedSemitones);
}

std::int64_t TimeDragFrames(float dx, double framesPerPixel) {
    const double frames = std::trunc(static_cast<double>(dx) * framesPerPixel);
    // Far beyond any timeline; the session clamps moves to its own limit.
    return static_cast<std::int64_t>(std::clamp(frames, -1e15, 1e15));
}

double GainStepDb(float dY) {
    return -0.25 * dY;
}

double DriftDragValue(float up, double driftAtPress) {
    return std::clamp(up / 120.0 + driftAtPress, 0.0, 2.0);
}

} // namespace cv::ui
