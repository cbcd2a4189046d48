#pragma once

// The drag maths of the note canvas's tools: which gesture a press or the first drag starts, the dead
// zone, and what each gesture asks of the edit session for a pointer movement. Pure functions; the
// canvas control (editor_view.h) applies them. Main thread.

#include <cstdint>

namespace cv::ui {

// The tools of the tool tabs.
enum class Tool : std::uint32_t { Main = 0, Pitch = 1, Formant = 2, Amp = 3, Time = 4, Mod = 5 };

// The mouse gesture in progress.
enum class GestureMode : std::uint32_t {
    None = 0,
    Pressed = 1, // on a note, before the first drag out of the dead zone
    Pitch = 2,
    Time = 3,
    Resize = 4, // Time tool pressed within kResizeZone of a note's right end
    Formant = 5,
    Gain = 6,
    Drift = 7,
    Marquee = 8, // pressed on empty canvas
};

// A press with the Time tool closer than this to a note's right end stretches it.
inline constexpr float kResizeZone = 8.f;
// Drag events closer than this to the press on both axes are ignored until one goes beyond.
inline constexpr float kDeadZone = 3.f;

// Whether a drag to (dx, dy) from the press is still inside the dead zone.
bool InsideDeadZone(float dx, float dy);

// The gesture the first drag out of the dead zone chooses from Pressed: the Main tool moves in time
// when the drag is mostly horizontal, else in pitch; the other tools each have their own.
GestureMode ModeForFirstDrag(Tool tool, float dx, float dy);

// The pitch offset a pitch drag stands at for the accumulated semitones: whole semitones (halves away
// from zero), or the exact amount with Alt.
double PitchDragTarget(double accumulatedSemitones, bool fine);

// Whole frames a time or resize drag stands at, dx units right of the press (truncated).
std::int64_t TimeDragFrames(float dx, double framesPerPixel);

// Gain change for a drag event of dY units (up is louder): a quarter dB per unit.
double GainStepDb(float dY);

// The drift scale a Mod drag stands at, `up` units above the press: 120 units add 1; within 0..2.
double DriftDragValue(float up, double driftAtPress);

} // namespace cv::ui
